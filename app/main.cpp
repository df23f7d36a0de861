// SPDX-License-Identifier: GPL-3.0-or-later
// norvex: service and diagnostics tool for the Tavik MDB bill validator.

#include "history/History.h"
#include "link/PortAssignments.h"
#include "link/PortListing.h"
#include "link/PortMap.h"
#include "ui/batch/BatchMode.h"
#include "ui/core/HistoryCommand.h"
#include "ui/qt/Application.h"
#include "ui/qt/CommandLine.h"

#include <csignal>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    using namespace norvex;

    // A write past a file-size limit must fail like any other write (the report, the traffic
    // recording and the settings say so to the operator) instead of ending the program.
    std::signal(SIGXFSZ, SIG_IGN);

    // The batch mode runs without a window: it branches off before the window's command line
    // is read and before a display is needed.
    if (ui::historyCommandRequested(argc, argv)) return ui::runHistoryCommand(argc, argv);
    if (batch::batchRequested(argc, argv)) return batch::runBatch(argc, argv);

    const qt::CommandLine cl = qt::parseCommandLine(argc, argv);

    if (!cl.error.empty()) {
        std::fprintf(stderr, "norvex: %s\nTry 'norvex --help'.\n", cl.error.c_str());
        return 2;
    }

    // COM 1..COM 4: defaults, then the ports dialog's assignments, then the environment, then
    // the command line.
    link::PortMap ports;
    link::PortAssignments assignments;
    const std::string portsFile = link::PortAssignments::defaultFile();
    std::string warning;
    if (!portsFile.empty() && !assignments.load(portsFile, warning))
        std::fprintf(stderr, "norvex: %s\n", warning.c_str());
    assignments.applyTo(ports);
    ports.loadEnvironment();
    std::string error;
    if (!qt::applyPortOverrides(cl, ports, error)) {
        std::fprintf(stderr, "norvex: %s\n", error.c_str());
        return 2;
    }
    if (cl.version) {
        std::puts("norvex " NORVEX_VERSION);
        return 0;
    }
    if (cl.listPorts) {
        std::fputs(link::portListing(link::PortDiscovery(), ports).c_str(), stdout);
        return 0;
    }
    if (cl.help) {
        std::fputs(qt::usageText(ports).c_str(), stdout);
        std::fputs("\n", stdout);
        std::fputs(batch::batchUsage(), stdout);
        return 0;
    }

    if (!qt::displayAvailable()) {
        std::fputs("norvex: no graphical display: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
                   "Run norvex inside a desktop session, choose a Qt platform with QT_QPA_PLATFORM,\n"
                   "or use the batch mode without a window: norvex --batch --help\n",
                   stderr);
        return 1;
    }

    // The service history: --history, else the one chosen in the History window, else the
    // embedded default; none with --no-history.
    std::string historyUrl = cl.noHistory ? std::string() : cl.historyUrl;
    if (!cl.noHistory && historyUrl.empty()) {
        warning.clear();
        historyUrl = history::configuredHistoryUrl(&warning);
        if (!warning.empty()) std::fprintf(stderr, "norvex: %s\n", warning.c_str());
    }

    qt::Application app(argc, argv);
    return app.run(ports, portsFile, historyUrl);
}
