// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The control channel of both hosts: commands typed on standard input, a line at a time, and
// the replies on standard output.

#include "Scenario.h"

#include <functional>
#include <string>

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

// A reply line on standard output. Nobody may be reading the replies: it never blocks.
void replyLine(const std::string& text);

} // namespace norvex::sim
