// SPDX-License-Identifier: GPL-3.0-or-later
#include "MachineHost.h"
#include "Options.h"
#include "SimHost.h"

#include <csignal>
#include <cstdio>

int main(int argc, char** argv) {
    using namespace norvex::sim;
    // A write past a file-size limit fails (and is reported) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    Options options;
    std::string error;
    if (!options.parse(std::vector<std::string>(argv + 1, argv + argc), error)) {
        std::fprintf(stderr, "norvex-sim: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(Options::helpText(), stdout);
        return 0;
    }
    if (options.machine) {
        MachineHost machine(options);
        return machine.run();
    }
    SimHost host(options);
    return host.run();
}
