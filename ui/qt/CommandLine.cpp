// SPDX-License-Identifier: GPL-3.0-or-later
#include "CommandLine.h"

#include "history/History.h"

#include <cstdlib>

namespace norvex::qt {

CommandLine parseCommandLine(int argc, const char* const* argv) {
    CommandLine cl;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i] ? argv[i] : "";
        if (arg == "--help" || arg == "-h") {
            cl.help = true;
        } else if (arg == "--version") {
            cl.version = true;
        } else if (arg == "--list-ports") {
            cl.listPorts = true;
        } else if (arg == "--port") {
            if (i + 1 >= argc) {
                cl.error = "--port needs a value: --port COMn=PATH";
                return cl;
            }
            cl.portOverrides.emplace_back(argv[++i]);
        } else if (arg.rfind("--port=", 0) == 0) {
            cl.portOverrides.push_back(arg.substr(7));
        } else if (arg == "--history" || arg.rfind("--history=", 0) == 0) {
            if (arg == "--history" && i + 1 >= argc) {
                cl.error = "--history needs a value: --history sqlite:PATH or postgresql://USER@HOST/DB";
                return cl;
            }
            cl.historyUrl = arg == "--history" ? std::string(argv[++i] ? argv[i] : "") : arg.substr(10);
            history::HistoryUrl parsed;
            if (!history::parseHistoryUrl(cl.historyUrl, parsed, cl.error)) return cl;
        } else if (arg == "--no-history") {
            cl.noHistory = true;
        } else {
            cl.error = "unknown argument: " + arg;
            return cl;
        }
    }
    if (cl.noHistory && !cl.historyUrl.empty()) cl.error = "--history and --no-history contradict each other";
    return cl;
}

bool applyPortOverrides(const CommandLine& cl, link::PortMap& ports, std::string& error) {
    for (const std::string& assignment : cl.portOverrides) {
        std::string why;
        if (!ports.parseOverride(assignment, why)) {
            error = "--port " + assignment + ": " + why;
            return false;
        }
    }
    return true;
}

std::string usageText(const link::PortMap& ports) {
    std::string text =
        "Usage: norvex [--port COMn=PATH]... [--history URL | --no-history] [--list-ports] [--help]\n"
        "              [--version]\n"
        "\n"
        "Service and diagnostics tool for the Tavik MDB bill validator.\n"
        "\n"
        "Options:\n"
        "  --port COMn=PATH  let the selector entry \"COM n\" (n = 1..4) open the serial device PATH;\n"
        "                    may be given once per port; wins over the environment\n"
        "  --list-ports      list the serial devices present (stable name, driver, USB vendor,\n"
        "                    product and serial number, COM entry, access) and exit\n"
        "  --history URL     keep the readings in this service history: sqlite:PATH, or\n"
        "                    postgresql://USER@HOST/DB for a history a workshop shares (default: the\n"
        "                    one chosen in the History window, else\n"
        "                    sqlite:~/.local/share/norvex/history.sqlite)\n"
        "  --no-history      keep no readings in this run\n"
        "  -h, --help        show this text and exit\n"
        "  --version         show the program's version and exit\n"
        "\n"
        "Serial ports: the selector's entries COM 1..COM 4 open these devices:\n";
    for (int i = 0; i < link::PortMap::PORT_COUNT; ++i)
        text += "  " + link::PortMap::portName(i) + "  " + ports.devicePath(i) + "   (default " +
                link::PortMap::defaultPath(i) + ")\n";
    text += "A device assigned in the ports dialog (Log File > Serial Ports) replaces a default; the\n"
            "environment variables NORVEX_COM1..NORVEX_COM4 replace both; --port replaces everything.\n"
            "\n"
            "Files: norvex.ini (the selected port) in the current directory; the ports dialog's\n"
            "assignments in ~/.config/norvex/ports.conf ($XDG_CONFIG_HOME/norvex/); the traffic\n"
            "record (MDB_DATA.TXT in the home directory unless chosen in Options); diagnostics\n"
            "reports Tavik_<serial>.TXT where chosen.\n"
            "\n"
            "The window needs a graphical display (DISPLAY or WAYLAND_DISPLAY, or QT_QPA_PLATFORM);\n"
            "--list-ports, --version, --help and the batch mode need none.\n"
            "\n"
            "SIGINT, SIGTERM and SIGHUP close the window as EXIT does (a bill held in escrow is\n"
            "returned, the port released) and end it with 130, 143 and 129; a firmware download\n"
            "still asking its questions is cancelled, one transferring ends the program when done.\n";
    return text;
}

bool displayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* v = std::getenv(name);
        if (v && *v) return true;
    }
    return false;
}

} // namespace norvex::qt
