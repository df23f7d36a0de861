// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FailurePlan.h"
#include "WireFormat.h"

#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace norvex::sim {

// A coin changer at address 08h, for the virtual machine: enough of one to be polled at real
// timing beside the validator. Coins are deposited by command; their status bytes wait for a
// POLL and leave the queue only when the controller acknowledges them (unacknowledged, the same
// answer goes out again). Free of I/O; log lines are JSON members without the time.
class CoinChanger {
public:
    CoinChanger();

    // A whole command from the controller; the answer (empty for none).
    Transmission onCommand(const Bytes& frame);
    // The controller acknowledged the last data answer; `inTime` within the 5 ms.
    void onAck(bool inTime);
    // The bus was reset: the changer starts afresh.
    void reset();
    // A coin of `type` (0-15), routed to its tube or to the cash box.
    std::string depositCoin(int type, bool toTubes);

    std::vector<std::string> takeLog();
    const std::deque<std::uint8_t>& queue() const { return queue_; }

private:
    Transmission pollAnswer();
    void log(const std::string& members) { log_.push_back(members); }

    std::deque<std::uint8_t> queue_; // status bytes, a coin's two together
    std::size_t inFlight_ = 0;       // bytes of the last POLL answer not yet acknowledged
    std::array<std::uint8_t, 16> tubes_{};
    std::vector<std::string> log_;
};

} // namespace norvex::sim
