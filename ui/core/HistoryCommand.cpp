#include "HistoryCommand.h"

#include "history/History.h"
#include "history/Trends.h"

#include <cstring>

namespace norvex::ui {

bool historyCsvRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i)
        if (argv[i] &&
            (std::strcmp(argv[i], "--history-csv") == 0 || std::strncmp(argv[i], "--history-csv=", 14) == 0))
            return true;
    return false;
}

int runHistoryCsv(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
    std::string url, serial;
    bool serialGiven = false;
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
        if (name != "--history" && name != "--history-csv")
            return fail("--history-csv takes only --history: " + args[i]);
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
    if (!serialGiven || serial.empty()) return fail("--history-csv needs the unit's serial number");
    if (url.empty()) url = history::configuredHistoryUrl();

    history::Fault fault;
    auto store = history::openStore(url, fault);
    if (!store) {
        std::fprintf(err, "norvex: cannot read the history at %s: %s\n", history::displayUrl(url).c_str(),
                     fault.detail.c_str());
        return 1;
    }
    std::vector<history::VisitSummary> visits;
    if (!store->unitHistory(serial, {}, visits, fault)) {
        std::fprintf(err, "norvex: cannot read the history at %s: %s\n", history::displayUrl(url).c_str(),
                     fault.detail.c_str());
        return 1;
    }
    if (visits.empty()) {
        std::fprintf(err, "norvex: no unit %s in the history at %s\n", serial.c_str(),
                     history::displayUrl(url).c_str());
        return 2;
    }
    const std::string csv = history::historyCsv(serial, visits);
    std::fwrite(csv.data(), 1, csv.size(), out);
    std::fflush(out);
    return std::ferror(out) ? 1 : 0;
}

int runHistoryCsv(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        if (argv[i]) args.emplace_back(argv[i]);
    return runHistoryCsv(args, stdout, stderr);
}

} // namespace norvex::ui
