// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "ControlInput.h"
#include "Machine.h"
#include "Options.h"
#include "PseudoTerminal.h"
#include "Scenario.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace norvex::sim {

// The virtual machine running (--machine): the machine's bus on two pseudo-terminals, the
// controller's line and the peripherals' line, each written at 9600 baud pacing as a receive-only
// adapter on that line would deliver it. What a listener does to its end shows at the masters,
// which run in packet mode: any byte it writes, any flush or flow control of its output, is
// logged (a listener must do none of them; a pseudo-terminal has no modem lines to show).
// One thread; waits in ppoll().
class MachineHost {
public:
    explicit MachineHost(Options options);
    ~MachineHost();

    // Opens both terminals, prints "CONTROLLER_PATH,PERIPHERALS_PATH" and runs until the end.
    int run();

private:
    struct Tap {
        const char* name = "";
        PseudoTerminal pty;
        bool client = false;       // a listener has the slave open
        std::int64_t hangupUs = 0; // when the master last showed no listener
        bool full = false;         // the listener stopped reading: writes are dropped (said once)
    };

    bool setUp();
    std::int64_t nowUs() const;
    void logLine(const std::string& members);
    // Waits up to `waitUs` for the control channel and both taps; false on a stop signal.
    bool watch(std::int64_t waitUs);
    void readTap(Tap& tap);
    void checkClient(Tap& tap);
    // Writes one transmission paced on its line; returns when its last byte was due (µs).
    std::int64_t send(const BusWrite& w);
    Bytes delivered(Tap& tap, const BusWrite& w);
    void unplug(Tap& tap);
    void runScenario();
    void execute(const Command& command, const char* source);
    void readControl();
    void reply(const std::string& text);
    void drainLog();

    Options options_;
    Machine machine_;
    Tap taps_[2];
    std::vector<ScenarioStep> scenario_;
    std::size_t nextStep_ = 0;
    std::FILE* log_ = nullptr;
    bool logFailed_ = false;
    std::int64_t startNs_ = 0;
    bool running_ = true;
    std::string exitReason_ = "end";
    ControlInput control_;
};

} // namespace norvex::sim
