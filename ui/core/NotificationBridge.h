// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Hands the link worker's completion codes to the window thread, one at a time, and makes the
// worker wait until each has been handled. `post` asks the window thread to call deliver()
// soon (the Qt binding queues a call; the batch mode signals its loop). Closing cancels the
// waits, so a worker that is notifying never holds up the close.

#include "link/ComLink.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace norvex::ui {

class NotificationBridge : public link::LinkNotifier {
public:
    using Handler = std::function<void(std::uint8_t code)>;
    using FailureHandler = std::function<void(const link::LinkFault& fault)>;

    NotificationBridge(std::function<void()> post, Handler handler, FailureHandler onFailure);

    // Worker side.
    bool notify(std::uint8_t code) override;
    // Waits for the window's next deliver() without asking for one; asks after TICK_LIMIT, so a
    // window whose timer has stopped still takes it.
    bool notifyAtNextTick(std::uint8_t code) override;
    static constexpr std::chrono::milliseconds TICK_LIMIT{250};
    void linkFailed(const link::LinkFault& fault) override;
    void cancelWaits() override;

    // Window side: handles the pending code and any pending failure report; returns at once
    // when there is nothing to do. The window calls it when asked and at every timer tick.
    void deliver();
    // Allows waits again (after a cancelled close, a new START may follow).
    void reset();

private:
    bool handOver(std::uint8_t code, bool atNextTick);

    std::function<void()> post_;
    Handler handler_;
    FailureHandler onFailure_;
    std::mutex m_;
    std::condition_variable cv_;
    std::optional<std::uint8_t> pending_;
    bool handled_ = false;
    bool cancelled_ = false;
    std::optional<link::LinkFault> failure_;
};

} // namespace norvex::ui
