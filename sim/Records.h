// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WireFormat.h"

#include <array>
#include <cstdint>
#include <string>

namespace norvex::sim {

// The data the validator reports: SETUP and identification answers, the maker's diagnostics
// records and the counters behind the statistics record. Every answer is its data bytes
// followed by their checksum. The default contents are deterministic and every field differs
// from its neighbours, so that a decoder reading the wrong offset or byte order shows it.
class Records {
public:
    static constexpr std::size_t SETUP_SIZE = 27;
    static constexpr std::size_t IDENT_SIZE = 29;
    static constexpr std::size_t SENSORS_SIZE = 27;
    static constexpr std::size_t OPTICS_SIZE = 336;
    static constexpr std::size_t VIDEO_SIZE = 280;
    static constexpr std::size_t STATS_SIZE = 72;
    static constexpr std::size_t BILL_TYPES = 16;
    static constexpr std::size_t EVENT_KINDS = 20;

    // Statistics event numbers (1-based) the validator counts itself.
    static constexpr int EVENT_OPTICAL_TEST = 2;  // a coupon or white paper is refused
    static constexpr int EVENT_DISABLED_BILL = 3; // a bill of a disabled type
    static constexpr int EVENT_RETURNED_BY_CONTROLLER = 18;

    Records() { restoreDefault("all"); }

    // Names: setup, ident, sensors, optics, video, stats (or "all" for the first two calls).
    bool restoreDefault(const std::string& name);
    bool clear(const std::string& name);
    // Overwrites data bytes from `offset`; false with a reason when the name or range is wrong.
    bool patch(const std::string& name, std::size_t offset, const Bytes& bytes, std::string& error);
    static bool isName(const std::string& name);

    // Data bytes without the checksum.
    Bytes data(const std::string& name) const;
    // Data bytes followed by the checksum, as answered on the bus.
    Bytes answer(const std::string& name) const;

    std::uint8_t billCredit(int type) const { return setup_[11 + static_cast<std::size_t>(type)]; }

    std::array<std::uint16_t, BILL_TYPES> billsAccepted{};
    std::array<std::uint16_t, EVENT_KINDS> eventCount{};
    std::uint16_t stackerCount = 0; // bills in the cash box; bit 15 of the answer flags "full"
    bool stackerFull = false;

    void countEvent(int eventNumber);
    void countAccepted(int type);
    void eraseStatistics();
    Bytes stackerAnswer() const;

private:
    Bytes* buffer(const std::string& name);
    const Bytes* buffer(const std::string& name) const;

    Bytes setup_, ident_, sensors_, optics_, video_;
};

} // namespace norvex::sim
