// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The diagnostics report: a plain 8-bit text with CR LF line ends in up to four parts
// (statistics with the unit's identification, sensors, main optics, video test), built as
// exact bytes so that the file writer only copies them.

#include "diagnostics/OpticsData.h"
#include "diagnostics/SensorsData.h"
#include "diagnostics/StatisticsData.h"
#include "diagnostics/VideoTestData.h"

#include <array>
#include <cstdint>
#include <ctime>
#include <string>

namespace norvex::diagnostics {

// What the report prints. A missing record (null) is printed as its reset, all-zero values.
struct ReportContext {
    const StatisticsData* stats = nullptr;
    const SensorsData* sensors = nullptr;
    const OpticsData* optics = nullptr;
    const VideoTestData* video = nullptr;
    std::array<std::uint16_t, 16> billCredit{}; // credit of bill types 0..15
    std::array<char, 8> programRevision{};      // need not be terminated: up to 8 characters
    std::string serialNumber;
    std::tm localTime{}; // the moment the report is written
};

// Identification block and "PART I - STATISTICAL DATA".
std::string statisticsPart(const ReportContext& ctx);
// "PART II - SENSORS DATA".
std::string sensorsPart(const ReportContext& ctx);
// "PART III - MAIN OPTICS PARAMETERS", all four colours.
std::string opticsPart(const ReportContext& ctx);
// "PART IV - WHITE PAPER VIDEO TEST RESULTS", the averages.
std::string videoPart(const ReportContext& ctx);

// The chosen parts in the fixed order statistics, sensors, optics, video; empty when none.
std::string buildReport(const ReportContext& ctx, bool statistics, bool sensors, bool optics, bool video);

// The serial number made safe to stand in a file name: every path separator, character a file
// system or the file dialog will not take (: * ? " < > |) and every byte outside printable
// ASCII becomes '_'.
std::string sanitizeSerial(const std::string& serial);
// "Tavik_" + sanitized serial + ".TXT", a bare file name that cannot point elsewhere; an
// absurdly long serial is shortened so that the name stays within 255 bytes.
std::string proposedLogFileName(const std::string& serial);

} // namespace norvex::diagnostics
