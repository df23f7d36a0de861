// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "Loader.h"
#include "Validator.h"

#include <string>
#include <vector>

namespace norvex::sim {

struct Options {
    std::string linkPath;
    std::string scenarioPath;
    std::string logPath;
    std::string loaderDumpPath;
    double ackTimeoutMs = 5.0;
    double frameGapMs = 20.0;
    bool pacing = true;
    bool marked = false;
    bool loader = false;
    bool machine = false;         // a whole vending machine on two pseudo-terminals
    double pollIntervalMs = 25.0; // the machine's controller: from one command to the next
    bool help = false;
    Loader::CheckMode check = Loader::CheckMode::Crc;
    std::uint16_t fixedCheck = 0;
    PollBatch batch = PollBatch::Max;

    // False with a message for a bad command line.
    bool parse(const std::vector<std::string>& args, std::string& error);
    static const char* helpText();
};

} // namespace norvex::sim
