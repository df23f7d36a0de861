// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "CoinChanger.h"
#include "FailurePlan.h"
#include "Scenario.h"
#include "Validator.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace norvex::sim {

// The two lines of a machine's bus: what its controller transmits, and what the peripherals do.
enum class BusLine { Controller, Peripherals };

// One transmission on the bus: its bytes as on the wire with their mode bits, when its first
// byte starts, and how its sender paces it (split, slow, a gap before noise).
struct BusWrite {
    BusLine line = BusLine::Controller;
    Bytes bytes;
    Bytes modeBits;
    std::int64_t atUs = 0;
    std::string kind;   // "poll", "setup", "ack", "ret", "nak", "bus_reset", "noise", ...
    std::string device; // "validator", "changer" or "controller"
    Failure failure;
    std::size_t gapBefore = 0; // noise after an answer: the byte that follows the gap
};

// The whole vending machine for the listening mode: a controller that polls the virtual validator
// and a coin changer in turn at real timing, as a vending machine's controller does (start-up
// sequence, POLL, the validator's escrowed bills stacked, every data answer acknowledged), with
// the controller's own failures on request. Free of I/O: it says what goes on the bus next and
// when; the caller writes it and says when its last byte left. Times are µs.
class Machine {
public:
    struct Config {
        std::int64_t pollIntervalUs = 25000; // from one command to the next
        std::int64_t answerDelayUs = 600;    // a peripheral begins its answer after the command
        std::int64_t ackDelayUs = 400;       // the controller acknowledges after the answer
        std::int64_t resetHoldUs = 150000;   // a bus reset holds the line low this long
        Validator::Config validator;
    };

    explicit Machine(Config config);

    // What goes on the bus next, not before nowUs; the same until written() is called.
    const BusWrite& next(std::int64_t nowUs);
    // The write returned last has left; its last byte at lastByteUs.
    void written(std::int64_t lastByteUs);

    // Control commands: bills and faults of the validator, coins, the controller's faults.
    std::string apply(const Command& command);
    std::vector<std::string> takeLog();
    // Acknowledge windows of the peripherals that ran out.
    void tick(std::int64_t nowUs);

    Validator& validator() { return validator_; }
    CoinChanger& changer() { return changer_; }

private:
    enum class Step : std::uint8_t { Command, Answer, Reply };
    struct Pending {
        std::string mode;
        int count = 1;
        Failure failure;
    };
    struct Peer {
        std::deque<Bytes> startup; // commands before polling starts
        std::deque<Bytes> urgent;  // commands the controller must send now (escrow)
    };

    void plan(std::int64_t nowUs);
    void planCommand(std::int64_t nowUs);
    Bytes pollFrame(bool validator) const;
    void commandSent(std::int64_t lastByteUs);
    void answerSent(std::int64_t lastByteUs);
    void replySent(std::int64_t lastByteUs);
    std::optional<Pending> takeControllerFault(const std::string& mode);
    void queueStartup();
    void log(const std::string& members) { log_.push_back(members); }

    Config config_;
    Validator validator_;
    CoinChanger changer_;
    Peer peers_[2]; // 0: validator, 1: changer
    bool nextValidator_ = true;
    bool planned_ = false;
    BusWrite write_;
    Step step_ = Step::Command;
    bool toValidator_ = true;     // the device of the exchange under way
    bool retransmitting_ = false; // the answer goes again on RET
    Transmission answer_;         // the peripheral's answer under way
    Bytes command_;
    std::int64_t nextCommandUs_ = 0;
    std::int64_t commandStartUs_ = 0;
    std::int64_t answerEndUs_ = 0;
    Bytes lateAcked_;             // the last answer acknowledged too late: it comes again
    std::vector<Pending> faults_; // the controller's, newest last
    std::vector<std::string> log_;
};

} // namespace norvex::sim
