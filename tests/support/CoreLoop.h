// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The window thread of a headless test: ticks the toolkit-free main window at its poll period
// and hands it the link worker's notifications as they come.

#include "ui/core/MainWindowLogic.h"
#include "ui/core/NotificationBridge.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace norvex::test {

class CoreLoop {
public:
    explicit CoreLoop(ui::MainWindowLogic& core)
        : core_(core), bridge_([this] { wake(); }, [this](std::uint8_t c) { core_.onLinkNotification(c); },
                               [this](const link::LinkFault& f) { core_.onLinkFailed(f); }) {}

    ui::NotificationBridge& bridge() { return bridge_; }

    // Runs ticks and notifications until `done` is true or the time is up; true when done.
    bool runUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        auto& nextTick = nextTick_;
        while (std::chrono::steady_clock::now() < end) {
            bridge_.deliver();
            if (done()) return true;
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextTick) {
                if (core_.controller().started()) core_.onTimer();
                nextTick = now + std::chrono::milliseconds(core_.controller().pollPeriodMs());
                continue;
            }
            std::unique_lock<std::mutex> lk(m_);
            cv_.wait_until(lk, std::min(nextTick, end), [&] { return posted_; });
            posted_ = false;
        }
        bridge_.deliver();
        return done();
    }
    void runFor(std::chrono::milliseconds d) {
        runUntil([] { return false; }, d);
    }

private:
    void wake() {
        std::lock_guard<std::mutex> lk(m_);
        posted_ = true;
        cv_.notify_all();
    }

    ui::MainWindowLogic& core_;
    ui::NotificationBridge bridge_;
    std::mutex m_;
    std::condition_variable cv_;
    bool posted_ = false;
    // The tick schedule runs on across calls, as a window timer does.
    std::chrono::steady_clock::time_point nextTick_ = std::chrono::steady_clock::now();
};

} // namespace norvex::test
