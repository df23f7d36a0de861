// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One reading of a unit: what the tool read from it at one visit, kept as the raw record bytes
// the validator sent (so that the report of that visit can be made again byte for byte) with
// the values decoded from them for queries, charts and the CSV export.

#include "diagnostics/DiagnosticsReport.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace norvex::history {

// Report parts chosen at the visit, as bits.
enum ReportPart : int { PART_STATISTICS = 1, PART_SENSORS = 2, PART_OPTICS = 4, PART_VIDEO = 8 };

struct Reading {
    std::string id;           // made at the reading; storing it twice stores it once
    std::string serial;       // the unit: the identification's serial number, else the one typed
    std::int64_t takenAt = 0; // seconds since 1970 (UTC)
    std::tm localTime{};      // the local date and time the report printed
    std::string machine;      // the operator's computer
    // Identification: maker, serial, model, program revision as text (blanks trimmed).
    std::string maker, model, programText;
    // The report as it was asked for: parts, the serial number typed, the inputs it printed
    // beside the records.
    int parts = 0;
    std::string reportSerial;
    std::array<char, 8> programRevision{};
    std::array<std::uint16_t, 16> billCredit{};
    // Raw record bytes as read; empty when the record was not read at this visit.
    std::vector<std::uint8_t> ident, setup, statistics, sensors, optics, video;
};

// A fresh random id ("r" and 32 hexadecimal digits).
std::string makeReadingId();
// The computer's name.
std::string machineName();

// Maker (bytes 0-2), serial (3-14) and model (15-26) of an identification record as text,
// without trailing blanks or zero bytes; non-printable bytes become '?'.
std::string identText(const std::vector<std::uint8_t>& ident, std::size_t from, std::size_t count);

// The unit a serial number names, as its bytes came (from the identification's bytes 3-14, or
// as typed): blanks and zero bytes trimmed at both ends, printable ASCII kept, a backslash
// doubled and every other byte written "\xHH", so that two different serial numbers never
// make one unit. Empty when nothing is left.
std::string unitSerial(const std::uint8_t* bytes, std::size_t count);
// The identification's serial number as a unit (empty when the record is too short or blank).
std::string identSerial(const std::vector<std::uint8_t>& ident);
// The unit of readings whose validator reported no serial number and for which none was typed.
// Fourteen printable characters: no serial number (twelve bytes at most) can be taken for it.
inline constexpr const char* UNKNOWN_UNIT = "unknown serial";

// The report of the visit, made again from the stored records with the report writer.
std::string recreateReport(const Reading& reading);

// Values decoded from the records, by name, in a fixed order (for queries, charts and the CSV
// export). Only the records read at this visit give values.
std::vector<std::pair<std::string, double>> decodedValues(const Reading& reading);

// Every name decodedValues can give, in the same order.
const std::vector<std::string>& valueNames();

} // namespace norvex::history
