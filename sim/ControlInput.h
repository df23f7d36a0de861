// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What both hosts take from outside: commands typed on standard input, a line at a time, the
// replies on standard output, the scenario and the log files.

#include "Scenario.h"

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace norvex::sim {

class ControlInput {
public:
    // False once standard input has ended or failed.
    bool open() const { return open_; }
    // Reads what standard input has and hands on each whole line: `take` a command that parses
    // (false from it stops the reading), `refuse` a line that does not, with the reason. Comment
    // and empty lines are skipped; a line longer than 64 KiB is dropped.
    void read(const std::function<bool(const Command&)>& take,
              const std::function<void(const std::string& line, const std::string& error)>& refuse);

private:
    bool open_ = true;
    std::string buffer_;
};

// The log file named by --log, opened for writing; nullptr when it cannot be, said on stderr.
std::FILE* openLogFile(const std::string& path);
// The scenario file named by --scenario; false when it cannot be read or parsed, said on stderr.
bool loadScenarioFile(const std::string& path, std::vector<ScenarioStep>& scenario);

// A reply line on standard output. Nobody may be reading the replies: it never blocks.
void replyLine(const std::string& text);

} // namespace norvex::sim
