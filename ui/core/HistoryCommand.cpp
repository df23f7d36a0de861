// SPDX-License-Identifier: GPL-3.0-or-later
#include "HistoryCommand.h"

#include "history/History.h"
#include "history/Trends.h"

#include <cerrno>
#include <cstring>

namespace norvex::ui {

bool historyCommandRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] &&
            (std::strcmp(argv[i], "--history-csv") == 0 || std::strncmp(argv[i], "--history-csv=", 14) == 0 ||
             std::strcmp(argv[i], "--history-init") == 0))
            return true;
    return false;
}

int runHistoryCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string url, serial, warning;
    bool serialGiven = false, init = false;
    auto fail = [&](const std::string& why) {
        std::fprintf(err, "norvex: %s\nTry 'norvex --help'.\n", why.c_str());
        return 2;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        bool inlineValue = false;
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
            inlineValue = true;
        }
        if (name == "--history-init" && !inlineValue) {
            init = true;
            continue;
        }
        if (name != "--history" && name != "--history-csv")
            return fail("--history-csv and --history-init take only --history: " +
                        history::displayUrl(args[i]));
        if (!inlineValue) {
            if (i + 1 >= args.size()) return fail(name + " needs a value");
            value = args[++i];
        }
        if (name == "--history") {
            history::HistoryUrl parsed;
            std::string error;
            if (!history::parseHistoryUrl(value, parsed, error)) return fail(error);
            url = value;
        } else {
            serial = value;
            serialGiven = true;
        }
    }
    if (init && serialGiven) return fail("--history-init and --history-csv run alone");
    if (!init && (!serialGiven || serial.empty()))
        return fail("--history-csv needs the unit's serial number");
    if (url.empty()) {
        url = history::configuredHistoryUrl(&warning);
        if (!warning.empty()) std::fprintf(err, "norvex: %s\n", warning.c_str());
    }
    const std::string where = history::displayUrl(url);

    history::Fault fault;
    if (init) {
        // The only step that changes a history's schema; a server's owner runs it once.
        auto store = history::openStore(url, fault, history::OpenMode::Init);
        if (!store) {
            std::fprintf(err, "norvex: cannot set up the history at %s: %s\n", where.c_str(),
                         fault.detail.c_str());
            return 1;
        }
        std::fprintf(out, "norvex: the history at %s is ready (schema version %d)\n", where.c_str(),
                     history::SCHEMA_VERSION);
        std::fflush(out);
        return std::ferror(out) ? 1 : 0;
    }

    // Read only: a history that is not there is not made.
    auto store = history::openStore(url, fault, history::OpenMode::Read);
    if (!store) {
        if (fault.kind == history::FaultKind::NoSchema && fault.detail == history::NO_HISTORY)
            std::fprintf(err, "norvex: no history at %s\n", where.c_str());
        else
            std::fprintf(err, "norvex: cannot read the history at %s: %s\n", where.c_str(),
                         fault.detail.c_str());
        return 1;
    }
    std::size_t visits = 0;
    const bool written = store->writeCsv(
        serial,
        [&](const std::string& text) { return std::fwrite(text.data(), 1, text.size(), out) == text.size(); },
        visits, fault);
    if (!written && fault) {
        std::fprintf(err, "norvex: cannot read the history at %s: %s\n", where.c_str(), fault.detail.c_str());
        return 1;
    }
    if (written && visits == 0) {
        std::fprintf(err, "norvex: no unit %s in the history at %s\n", serial.c_str(), where.c_str());
        return 2;
    }
    if (std::fflush(out) != 0 || std::ferror(out) || !written) {
        std::fprintf(err, "norvex: cannot write the CSV: %s\n", std::strerror(errno ? errno : EIO));
        return 1;
    }
    return 0;
}

int runHistoryCommand(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);
    return runHistoryCommand(args, stdout, stderr);
}

} // namespace norvex::ui
