// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Collects what the tool reads from the unit at this visit, as the raw records arrived, so
// that the service history can keep them and make the visit's report again byte for byte.

#include "history/Reading.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace norvex::ui {

class ReadingCollector {
public:
    enum class Record { Ident, Setup, Statistics, Sensors, Optics, Video };

    // A record as it arrived (the decoder's input); it replaces an earlier one of its kind.
    void received(Record record, const std::uint8_t* bytes, std::size_t length);
    // The statistics were erased: the report prints zeros from now on.
    void statisticsCleared();
    // True when a diagnostics record arrived since the last reading was taken.
    bool unsaved() const { return unsaved_; }

    // The reading of the visit so far: the report's inputs (parts, the serial typed, the
    // credits and program revision it printed, its local time) and every record held. The
    // unit is the identification's serial number, else the serial typed, each trimmed and
    // kept byte for byte (history::unitSerial); history::UNKNOWN_UNIT when neither is there.
    // Marks what it holds as saved.
    history::Reading take(int parts, const std::string& typedSerial,
                          const std::array<std::uint16_t, 16>& billCredit,
                          const std::array<char, 8>& programRevision, const std::tm& localTime,
                          std::int64_t now);

private:
    std::vector<std::uint8_t>& slot(Record record);
    std::vector<std::uint8_t> ident_, setup_, statistics_, sensors_, optics_, video_;
    bool unsaved_ = false;
};

} // namespace norvex::ui
