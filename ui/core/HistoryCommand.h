#pragma once
// norvex [--history URL] --history-csv SERIAL: one unit's service history as CSV on standard
// output, without a window or a port.

#include <cstdio>
#include <string>
#include <vector>

namespace norvex::ui {

// True when "--history-csv" is among argv[1..].
bool historyCsvRequested(int argc, const char* const* argv);

// Exit statuses: 0 printed, 2 unknown unit or bad arguments, 1 the history cannot be read.
int runHistoryCsv(const std::vector<std::string>& args, std::FILE* out, std::FILE* err);
int runHistoryCsv(int argc, char** argv);

} // namespace norvex::ui
