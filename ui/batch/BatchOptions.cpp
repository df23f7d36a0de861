// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchOptions.h"

#include "history/History.h"
#include "link/PortMap.h"

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace norvex::batch {

namespace {

constexpr int MAX_SECONDS = 365 * 24 * 3600;
constexpr std::size_t MAX_SERIAL = 10; // the log-file dialog's field takes no more

// Whole decimal number without sign, spaces or anything after it.
bool parseNumber(const std::string& text, long long limit, long long& value) {
    if (text.empty() || text.size() > 12) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= limit;
}

// The same file: by device and inode where both exist (a hard link or a symbolic link is the
// file it names), else by the path they would create.
bool samePath(const std::string& a, const std::string& b) {
    struct stat sa {
    }, sb{};
    const bool aThere = ::stat(a.c_str(), &sa) == 0, bThere = ::stat(b.c_str(), &sb) == 0;
    if (aThere && bThere) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    if (aThere != bThere) return false;
    std::error_code ea, eb;
    const auto pa = std::filesystem::weakly_canonical(std::filesystem::absolute(a, ea), ea);
    const auto pb = std::filesystem::weakly_canonical(std::filesystem::absolute(b, eb), eb);
    if (ea || eb) return a == b;
    return pa == pb;
}

} // namespace

bool parseReportParts(const std::string& list, ReportParts& parts, std::string& error) {
    ReportParts chosen{false, false, false, false};
    std::size_t start = 0;
    bool any = false;
    while (start <= list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string name = list.substr(start, comma - start);
        if (name == "statistics")
            chosen.statistics = true;
        else if (name == "sensors")
            chosen.sensors = true;
        else if (name == "optics")
            chosen.optics = true;
        else if (name == "video")
            chosen.video = true;
        else {
            error = "--parts: unknown part \"" + name + "\" (statistics, sensors, optics, video)";
            return false;
        }
        any = true;
        start = comma + 1;
    }
    if (!any) {
        error = "--parts: no part named";
        return false;
    }
    parts = chosen;
    return true;
}

bool parseBatchArguments(const std::vector<std::string>& args, BatchOptions& options, std::string& error) {
    BatchOptions o;
    bool serialGiven = false, partsGiven = false, pollGiven = false, escrowGiven = false;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        if (name.rfind("--", 0) == 0) {
            if (const auto eq = name.find('='); eq != std::string::npos) {
                value = name.substr(eq + 1);
                name.resize(eq);
                inlineValue = true;
            }
        }
        if (name == "--batch" && !inlineValue) continue;
        if ((name == "--help" || name == "-h") && !inlineValue) {
            o.help = true;
            continue;
        }
        if (name == "--no-history" && !inlineValue) {
            o.noHistory = true;
            continue;
        }
        static const char* const VALUED[] = {"--port",    "--com",    "--poll-ms", "--escrow",  "--record",
                                             "--report",  "--serial", "--parts",   "--seconds", "--download",
                                             "--history", "--pcap",   "--listen"};
        bool known = false;
        for (const char* v : VALUED)
            known = known || name == v;
        if (!known) {
            error = "unknown argument: " + args[i];
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                error = name + " needs a value";
                return false;
            }
            value = args[++i];
        }

        long long n = 0;
        if (name == "--port") {
            link::PortMap check;
            std::string why;
            if (!check.parseOverride(value, why)) {
                error = "--port " + value + ": " + why;
                return false;
            }
            o.portOverrides.push_back(value);
        } else if (name == "--com") {
            if (!parseNumber(value, 4, n) || n < 1) {
                error = "--com: expected 1, 2, 3 or 4, got \"" + value + "\"";
                return false;
            }
            o.com = static_cast<int>(n);
        } else if (name == "--poll-ms") {
            if (!parseNumber(value, 200, n) || (n != 20 && n != 50 && n != 100 && n != 150 && n != 200)) {
                error = "--poll-ms: expected 20, 50, 100, 150 or 200, got \"" + value + "\"";
                return false;
            }
            o.pollMs = static_cast<unsigned>(n);
            pollGiven = true;
        } else if (name == "--escrow") {
            if (value == "return")
                o.escrowOption = control::EscrowOption::AutoReturn;
            else if (value == "stack")
                o.escrowOption = control::EscrowOption::AutoStack;
            else {
                error = "--escrow: expected return or stack, got \"" + value + "\"";
                return false;
            }
            escrowGiven = true;
        } else if (name == "--record" || name == "--report" || name == "--download") {
            if (value.empty()) {
                error = name + " needs a file name";
                return false;
            }
            (name == "--record" ? o.recordPath : name == "--report" ? o.reportPath : o.downloadImage) = value;
        } else if (name == "--listen") {
            const std::size_t comma = value.find(',');
            if (comma == std::string::npos || value.find(',', comma + 1) != std::string::npos || comma == 0 ||
                comma + 1 == value.size()) {
                error = "--listen: expected two devices, the controller's line first: "
                        "VMC_DEVICE,PERIPHERAL_DEVICE "
                        "(e.g. /dev/ttyUSB0,/dev/ttyUSB1), got \"" +
                        value + "\"";
                return false;
            }
            o.listenController = value.substr(0, comma);
            o.listenPeripheral = value.substr(comma + 1);
        } else if (name == "--pcap") {
            if (value.empty()) {
                error = "--pcap needs a file name";
                return false;
            }
            o.pcapPath = value;
        } else if (name == "--serial") {
            if (value.size() > MAX_SERIAL) {
                error = "--serial: at most 10 characters";
                return false;
            }
            for (unsigned char c : value) {
                if (c < 0x20 || c > 0x7E) {
                    error = "--serial: printable ASCII characters only";
                    return false;
                }
            }
            o.serial = value;
            serialGiven = true;
        } else if (name == "--parts") {
            if (!parseReportParts(value, o.parts, error)) return false;
            partsGiven = true;
        } else if (name == "--history") {
            history::HistoryUrl parsed;
            if (!history::parseHistoryUrl(value, parsed, error)) return false;
            o.historyUrl = value;
        } else if (name == "--seconds") {
            if (!parseNumber(value, MAX_SECONDS, n) || n < 1) {
                error = "--seconds: expected a whole number from 1 to " + std::to_string(MAX_SECONDS) +
                        ", got \"" + value + "\"";
                return false;
            }
            o.seconds = static_cast<int>(n);
        }
    }

    if (o.help) {
        options = o;
        return true;
    }
    // Options that would be silently ignored are refused: a script must not believe it got
    // what it asked for.
    if (!o.downloadImage.empty() && (!o.reportPath.empty() || !o.recordPath.empty() || o.seconds != 0)) {
        error = "--download runs alone: it cannot be combined with --report, --record or --seconds";
        return false;
    }
    if (o.noHistory && !o.historyUrl.empty()) {
        error = "--history and --no-history contradict each other";
        return false;
    }
    if (o.reportPath.empty() && (serialGiven || partsGiven)) {
        error = "--serial and --parts belong to --report";
        return false;
    }
    if (!o.reportPath.empty() && !o.recordPath.empty() && samePath(o.reportPath, o.recordPath)) {
        error = "--report and --record name the same file";
        return false;
    }
    if (o.listening()) {
        // Listening sends nothing: what only a controller does is refused, not ignored.
        std::string with;
        if (!o.reportPath.empty()) with = "--report";
        if (!o.downloadImage.empty()) with = "--download";
        if (!o.portOverrides.empty()) with = "--port";
        if (o.com != 0) with = "--com";
        if (pollGiven) with = "--poll-ms";
        if (escrowGiven) with = "--escrow";
        if (!with.empty()) {
            error = "--listen sends nothing on the bus: it cannot be combined with " + with;
            return false;
        }
        if (samePath(o.listenController, o.listenPeripheral)) {
            error =
                "--listen names the same device twice: the controller's line and the peripherals' line need "
                "a serial input each";
            return false;
        }
        for (const std::string* file : {&o.pcapPath, &o.recordPath}) {
            if (file->empty()) continue;
            if (samePath(*file, o.listenController) || samePath(*file, o.listenPeripheral)) {
                error = std::string(file == &o.pcapPath ? "--pcap" : "--record") +
                        " names a device of --listen: nothing may be written into the machine's bus";
                return false;
            }
        }
    }
    if (!o.pcapPath.empty()) {
        if (!o.downloadImage.empty()) {
            error = "--download runs alone: it cannot be combined with --pcap";
            return false;
        }
        for (const std::string* other : {&o.reportPath, &o.recordPath}) {
            if (!other->empty() && samePath(o.pcapPath, *other)) {
                error = "--pcap names the same file as " +
                        std::string(other == &o.reportPath ? "--report" : "--record");
                return false;
            }
        }
    }
    options = o;
    return true;
}

} // namespace norvex::batch
