// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Listening to a running vending machine's bus: the two receive-only lines (the controller's
// transmit line first, then the peripherals'), a thread that reads both as bytes arrive and hands
// them with their read times to a BusListener, and the exchanges it hears, kept for the window
// (or the batch loop) to take at its own pace. Nothing is ever written into either line.
//
// The thread blocks in poll() on both lines and an eventfd that close() signals; it never spins.
// The exchanges wait in a bounded queue behind a lock: when the reader falls more than
// QUEUE_LIMIT behind, the oldest go and are counted as lost.

#include "BusListener.h"
#include "HeardExchange.h"
#include "LinkFault.h"
#include "TapLine.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvex::link {

class BusTap {
public:
    using Line = BusListener::Line;
    static constexpr std::size_t QUEUE_LIMIT = 8192;

    BusTap() = default;
    ~BusTap() { close(); }
    BusTap(const BusTap&) = delete;
    BusTap& operator=(const BusTap&) = delete;

    // Opens both lines and starts listening. On failure nothing stays open and the fault names
    // the device; `failedLine` says which line it was.
    LinkResult open(const std::string& controllerPath, const std::string& peripheralPath,
                    Line* failedLine = nullptr);
    // Stops the thread (joined), finishes what was heard and closes both lines. Harmless when
    // nothing is open.
    void close();
    // The thread is reading both lines (it stops on close() or a fault).
    bool listening() const { return running_.load(); }

    // Appends the exchanges heard since the last call, oldest first; returns how many.
    std::size_t drain(std::vector<HeardExchange>& out);
    std::uint64_t lost() const { return lost_.load(); }
    // The thread stopped on a fault (an adapter pulled, waiting failed); fault() says which.
    bool failed() const { return failed_.load(); }
    LinkFault fault() const;

    // How each line is framed so far, and what its driver gives.
    Framing framing(Line line) const { return framing_[static_cast<std::size_t>(line)].load(); }
    // The peripherals' line carries the controller's POLLs: the devices were given swapped.
    bool linesLookSwapped() const { return swapped_.load(); }
    bool deliversMarks(Line line) const { return marks_[static_cast<std::size_t>(line)]; }
    bool markParity(Line line) const { return markParity_[static_cast<std::size_t>(line)]; }
    const std::string& path(Line line) const { return paths_[static_cast<std::size_t>(line)]; }

private:
    void run();
    void publish(BusListener& listener);
    void fail(FaultKind kind, const std::string& detail, const std::string& device);

    TapLine lines_[2];
    std::string paths_[2];
    bool marks_[2] = {false, false};
    bool markParity_[2] = {false, false};
    std::atomic<Framing> framing_[2] = {Framing::QuietLine, Framing::QuietLine};
    std::atomic<bool> swapped_{false};
    std::int64_t wallOffsetUs_ = 0;
    int wakeFd_ = -1;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_{false};
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> lost_{0};
    mutable std::mutex lock_;
    std::deque<HeardExchange> queue_; // behind lock_
    LinkFault fault_;                 // behind lock_
};

} // namespace norvex::link
