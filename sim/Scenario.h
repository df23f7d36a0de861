// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FailurePlan.h"
#include "WireFormat.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace norvex::sim {

enum class EscrowChoice {
    ByMask,   // as the controller's escrow bit for the type says
    Escrow,   // held in escrow whatever the mask says
    NoEscrow, // stacked at once
};

// One command of the control channel or of a scenario line (without its "at <ms>").
struct Command {
    // Coin, Controller and Unplug belong to the virtual machine (--machine).
    enum class Type {
        Insert,
        Coupon,
        Status,
        Fail,
        FailClear,
        Record,
        Stacker,
        End,
        Coin,
        Controller,
        Unplug
    };
    enum class RecordOp { Default, Clear, Set };

    Type type = Type::End;
    int billType = 0;
    EscrowChoice escrow = EscrowChoice::ByMask;
    Bytes bytes;        // Status: bytes to queue; Record Set: bytes to write
    std::string target; // Fail: command name; Record: record name
    Failure failure;
    int count = 1; // Fail: how many answers; FailurePlan::ALWAYS for all
    RecordOp recordOp = RecordOp::Default;
    std::size_t offset = 0;     // Record Set
    int stackerCount = -1;      // Stacker: new count, or -1 to keep
    int stackerFull = -1;       // Stacker: 1 full, 0 not full, -1 keep
    std::string text;           // the command line as given
    bool toTubes = true;        // Coin: routed to the tubes, else to the cash box
    std::string controllerMode; // Controller: noack, lateack, ret, nak, busreset, noise
    std::string line;           // Unplug: "controller" or "peripherals"
};

struct ParseResult {
    bool ok = false;
    Command command;
    std::string error;
};

// Targets of "fail": the MDB commands, the loader steps, and "any".
bool isFailTarget(const std::string& name);

ParseResult parseCommand(std::string_view line);

struct ScenarioStep {
    std::int64_t atMs = 0;
    Command command;
};

// Lines "at <ms> <command>", blank lines and lines starting with '#'. Steps come back sorted
// by time, lines with the same time in file order. On error, `error` names the line.
bool parseScenario(std::string_view text, std::vector<ScenarioStep>& steps, std::string& error);

} // namespace norvex::sim
