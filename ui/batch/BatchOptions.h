// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of the batch mode (norvex --batch ...): what to run without a window, and
// the exit statuses that scripts rely on.

#include "control/EscrowOption.h"

#include <string>
#include <vector>

namespace norvex::batch {

// Exit statuses of a batch run.
namespace batch_status {
inline constexpr int OK = 0;
inline constexpr int BAD_ARGUMENTS = 2;
inline constexpr int NO_CONNECTION = 3;   // the port could not be opened
inline constexpr int NO_SETUP = 4;        // no SETUP answer within 5 s of START
inline constexpr int FILE_FAILED = 5;     // the report, the record or the capture file could not be written
inline constexpr int LINK_FAILED = 6;     // the serial port stopped working during the run
inline constexpr int RECORDS_MISSING = 7; // report written, but a requested record never came
// A reading of the run is kept nowhere: neither the service history nor this computer's outbox
// took it, or the history refused it. (Only where the run would otherwise end with OK.)
inline constexpr int READING_NOT_KEPT = 8;
// Firmware download.
inline constexpr int DOWNLOAD_ABORTED = 10; // image unusable (nothing was sent) or aborted
inline constexpr int DOWNLOAD_NO_CONNECTION = 11;
inline constexpr int DOWNLOAD_HEADER_FAILED = 12;
inline constexpr int DOWNLOAD_RECORD_FAILED = 13;
inline constexpr int DOWNLOAD_NO_CHECK_VALUE = 14;
inline constexpr int DOWNLOAD_CRC_MISMATCH = 15;
} // namespace batch_status

struct ReportParts {
    bool statistics = true;
    bool sensors = true;
    bool optics = true;
    bool video = false;
    bool operator==(const ReportParts&) const = default;
};

struct BatchOptions {
    std::vector<std::string> portOverrides; // "COMn=PATH", in the order given
    int com = 0;                            // 1..4; 0: the port stored in norvex.ini
    unsigned pollMs = 100;
    control::EscrowOption escrowOption = control::EscrowOption::AutoReturn; // or AutoStack
    std::string recordPath;
    std::string pcapPath; // a capture of the bus for Wireshark, written as the exchanges happen
    std::string reportPath;
    std::string serial;
    ReportParts parts;
    int seconds = 0; // 0: no time limit
    std::string downloadImage;
    std::string historyUrl; // empty: the configured history (history.conf, else the default)
    bool noHistory = false; // --no-history: the run's readings are not kept
    bool help = false;
    // --listen CONTROLLER,PERIPHERALS: listen to a running machine through two receive-only
    // ports instead of playing the controller.
    std::string listenController;
    std::string listenPeripheral;
    bool listening() const { return !listenController.empty(); }
};

// Reads the batch arguments (without the program name; "--batch" itself is skipped). Values
// follow their option as the next argument or after '=' ("--com 2", "--com=2"). False with a
// reason in `error` for anything unknown, malformed, out of range or contradictory.
bool parseBatchArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error);

// "statistics,sensors,optics,video" (any non-empty selection, in any order).
bool parseReportParts(const std::string& list, ReportParts& parts, std::string& error);

} // namespace norvex::batch
