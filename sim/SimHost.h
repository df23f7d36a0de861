// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ControlInput.h"
#include "FrameParser.h"
#include "Loader.h"
#include "Options.h"
#include "PseudoTerminal.h"
#include "Scenario.h"
#include "Validator.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace norvex::sim {

// The running simulator: pseudo-terminal, paced output, scenario clock, control channel on
// standard input and the JSON line log. One thread; waits in ppoll().
class SimHost {
public:
    explicit SimHost(Options options);
    ~SimHost();

    // Opens the terminal, prints its path and runs until the end. Returns the exit status.
    int run();

    static volatile std::sig_atomic_t stopSignal;

private:
    bool setUp();
    std::int64_t nowUs() const;
    void logLine(const std::string& members);
    // Reports a file that could not be written; the run then ends with status 1.
    void writeFailed(const std::string& path, int error);
    void drainCoreLog();
    void handleInput(const std::uint8_t* data, std::size_t n);
    void send(const Transmission& tx);
    bool prepareMarkedOutput();
    void vanish(bool thenExit);
    void execute(const Command& command, const char* source);
    void readControl();
    void reply(const std::string& text);
    void writeDump();
    double charTimeUs() const;

    Options options_;
    PseudoTerminal pty_;
    FrameParser parser_;
    std::unique_ptr<Validator> validator_;
    std::unique_ptr<Loader> loader_;
    std::vector<ScenarioStep> scenario_;
    std::size_t nextStep_ = 0;
    std::FILE* log_ = nullptr;
    std::int64_t startNs_ = 0;
    bool running_ = true;
    std::string exitReason_ = "end";
    bool clientGone_ = false; // the master reported hang-up: no client has the slave open
    std::int64_t hangupSinceUs_ = 0;
    bool hadClient_ = false; // a client has written since start
    ControlInput control_;
    std::size_t dumpedHeaders_ = 0;
    std::size_t dumpedRecords_ = 0;
    InputFlags clientInput_; // --marked: the client's input checking, read before each answer
    bool dumpFailed_ = false;
    bool fileFailed_ = false;
};

} // namespace norvex::sim
