// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How long the line must stay quiet after a byte that equals the running sum of a short answer
// before that byte counts as the answer's checksum, for one open port.
//
// On the wire a validator sends the bytes of an answer back to back: a character takes 1.146 ms
// at 9600 baud (11 bits) and MDB allows 1 ms between characters, so one byte ends at most 2.15 ms
// after the one before. The port adds its own delay on top: bytes paced 1.146 ms apart by a
// real-time writer through a pseudo-terminal reach a real-time reader on these machines with a
// median gap of 1.14 ms and a p99 of 1.2-1.8 ms while other programs run, 2.3 ms while a build
// keeps both processors busy (the kernel hands the bytes over in a worker thread of normal
// priority); a USB adapter at its lowest latency setting holds a byte back up to 1 ms. 3 ms covers
// the wire's worst case with room for the port, and is where every port starts.
//
// The acknowledge has to leave within the 5 ms that MDB gives it, after the window, so a narrower
// window leaves it more room. The window narrows to what the port shows: once enough gaps inside
// answers have been seen, it is the widest of them with a margin, never below 1.5 ms and never
// above 3 ms. A wider gap widens it at once, and so does a byte that comes after an answer the
// window ended: that answer had not ended, its gap is taken as one inside an answer.

#include <chrono>
#include <cstdint>

namespace norvex::link {

class QuietWindow {
public:
    using Micros = std::chrono::microseconds;
    static constexpr Micros WIDEST{3000};
    static constexpr Micros NARROWEST{1500};
    // Gaps inside answers seen before the window narrows at all.
    static constexpr std::uint32_t EVIDENCE = 64;

    // The time between two reads of bytes of one answer.
    void gapSeen(Micros gap);
    Micros window() const { return window_; }
    Micros widestGap() const { return widest_; }
    std::uint32_t gapsSeen() const { return seen_; }

    // The widest gap allowed for: itself and a quarter more, at least half a millisecond more.
    static Micros windowFor(Micros widestGap);

private:
    Micros widest_{0};
    std::uint32_t seen_ = 0;
    Micros window_ = WIDEST;
};

} // namespace norvex::link
