// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The headless batch mode: norvex --batch [options]. It runs the main window's logic
// (MainWindowLogic and its controller) without a window, for scripts, CI jobs and production
// lines. The entry point is called before any toolkit object exists and never ends the
// process itself: it returns the exit status.

#include "link/ComLink.h"

#include <cstdio>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

namespace norvex::batch {

// The help text of the batch options and exit statuses, ending with a newline.
const char* batchUsage();

// True when "--batch" is among argv[1..].
bool batchRequested(int argc, const char* const* argv);

// Runs the batch mode with argv as main() got it (argv[0] the program name; "--batch" may
// stand anywhere). Standard output carries the event and command lines, standard error the
// messages. Returns the exit status.
int runBatch(int argc, char** argv);

// Where a batch run reads and writes; the defaults are the process's own.
struct BatchEnvironment {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    std::string settingsDir = ".";  // where norvex.ini is read
    std::function<std::tm()> clock; // date and time printed in the report; local time when empty
    bool catchSignals = true;       // SIGINT and SIGTERM end the run as closing the window does
    link::PortFactory portFactory;  // termios ports when empty
    std::string portsFile = {};     // the ports dialog's assignments; none read when empty
};

// The same with the arguments after the program name.
int runBatch(const std::vector<std::string>& args, const BatchEnvironment& env);

} // namespace norvex::batch
