// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The simulator's clock: the monotonic time, and sleeps to absolute deadlines that a stop signal
// (held back while sending) can end.

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>

namespace norvex::sim {

inline std::int64_t monotonicNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

inline bool stopPending() {
    sigset_t pending;
    sigpending(&pending);
    return sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1;
}

// Sleeps until the absolute monotonic time `ns`, in steps short enough that a stop signal
// (held back while sending) ends a long wait. False when a stop signal is waiting.
inline bool sleepUntilNs(std::int64_t ns) {
    constexpr std::int64_t STEP_NS = 50'000'000;
    for (;;) {
        if (stopPending()) return false;
        const std::int64_t now = monotonicNs();
        if (now >= ns) return true;
        const std::int64_t until = std::min(ns, now + STEP_NS);
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(until / 1000000000);
        ts.tv_nsec = static_cast<long>(until % 1000000000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
    }
}

} // namespace norvex::sim
