// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The service history from the command line, without a window or a port:
//   norvex [--history URL] --history-csv SERIAL   one unit's history as CSV on standard output
//   norvex [--history URL] --history-init         sets a history up (creates or migrates its schema)

#include <cstdio>
#include <string>
#include <vector>

namespace norvex::ui {

// True when "--history-csv" or "--history-init" is among argv[1..].
bool historyCommandRequested(int argc, const char* const* argv);

// Exit statuses: --history-csv: 0 printed, 2 unknown unit or bad arguments, 1 no history there
// or it cannot be read (nothing is created or changed); --history-init: 0 set up, 2 bad
// arguments, 1 it could not be.
int runHistoryCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int runHistoryCommand(int argc, char** argv);

} // namespace norvex::ui
