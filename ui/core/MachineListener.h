// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Listening to a running vending machine, as the window does it: the tap on the machine's bus
// (link::BusTap) and what becomes of what it hears. Every exchange goes into the bus log. The
// bill validator's answers that the machine's controller acknowledged are assembled as the link
// would have assembled them and handed to the window's handling of a completed answer, so the
// validator pages follow what the machine's controller reads: its SETUP, the identification and
// the events. The enables it sends fill the bill list and its commands (but POLL) the command
// history. Nothing is ever sent.

#include "BusLog.h"
#include "control/Controller.h"
#include "link/BusTap.h"
#include "link/HeardExchange.h"
#include "link/LinkData.h"
#include "link/ResponseAssembler.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace norvex::ui {

class MachineListener {
public:
    using Deliver = std::function<void(std::uint8_t completionCode)>;
    using Heard = std::function<void(const link::HeardExchange&, const KeptExchange&)>;

    MachineListener(link::LinkData& data, control::Controller& controller, BusLog& log);
    ~MachineListener() { close(); }
    MachineListener(const MachineListener&) = delete;
    MachineListener& operator=(const MachineListener&) = delete;

    // Opens both lines (the controller's transmit line first) and starts listening; on failure
    // `failedLine` says which line did not open.
    link::LinkResult open(const std::string& controllerPath, const std::string& peripheralPath,
                          link::BusTap::Line& failedLine);
    void close();
    bool failed() const { return tap_.failed(); }
    link::LinkFault fault() const { return tap_.fault(); }
    const link::BusTap& tap() const { return tap_; }

    // Takes what was heard since the last call (the window's thread): each exchange into the bus
    // log, the validator's into the pages through `deliver`, then `heard` for each. Returns how
    // many came.
    std::size_t take(const Deliver& deliver, const Heard& heard);
    // Milliseconds from the start of listening to the exchange.
    std::uint32_t runClockMs(const link::HeardExchange& heard) const;

private:
    void follow(const link::HeardExchange& heard, const Deliver& deliver);

    control::Controller& controller_;
    BusLog& log_;
    link::BusTap tap_;
    link::ResponseAssembler assembler_;
    std::vector<link::HeardExchange> fresh_;
    std::int64_t startUs_ = 0;
    // The last validator answer taken into the pages, while its acknowledge came late: the
    // validator sends it again, and the copy is not taken twice.
    std::vector<std::uint8_t> takenLate_;
};

} // namespace norvex::ui
