// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The command line of the norvex program.

#include "link/PortMap.h"

#include <string>
#include <vector>

namespace norvex::qt {

struct CommandLine {
    bool help = false;
    bool version = false;
    bool listPorts = false;
    std::vector<std::string> portOverrides; // "COMn=PATH", in the order given
    std::string historyUrl;                 // --history URL; empty: the configured one
    bool noHistory = false;                 // --no-history
    std::string error;                      // set when the line cannot be used
};

// Reads argv[1..]: --port COMn=PATH (also --port=COMn=PATH, repeatable), --history URL,
// --no-history, --help / -h, --version, --list-ports.
CommandLine parseCommandLine(int argc, const char* const* argv);

// Applies the port overrides on top of the map (after its defaults and the environment).
// False with `error` set at the first malformed one.
bool applyPortOverrides(const CommandLine& cl, link::PortMap& ports, std::string& error);

// The --help text, ending with a newline.
std::string usageText(const link::PortMap& ports);

// True when a window can be shown: a display is named, or a Qt platform is chosen.
bool displayAvailable();

} // namespace norvex::qt
