// SPDX-License-Identifier: GPL-3.0-or-later
#include "NotificationBridge.h"

namespace norvex::ui {

NotificationBridge::NotificationBridge(std::function<void()> post, Handler handler, FailureHandler onFailure)
    : post_(std::move(post)), handler_(std::move(handler)), onFailure_(std::move(onFailure)) {}

bool NotificationBridge::notify(std::uint8_t code) {
    return handOver(code, false);
}

bool NotificationBridge::notifyAtNextTick(std::uint8_t code) {
    return handOver(code, true);
}

bool NotificationBridge::handOver(std::uint8_t code, bool atNextTick) {
    std::unique_lock<std::mutex> lk(m_);
    if (cancelled_) return false;
    pending_ = code;
    handled_ = false;
    const auto taken = [&] { return handled_ || cancelled_; };
    if (!atNextTick || !cv_.wait_for(lk, TICK_LIMIT, taken)) {
        lk.unlock();
        post_();
        lk.lock();
        cv_.wait(lk, taken);
    }
    const bool ok = handled_;
    pending_.reset();
    return ok;
}

void NotificationBridge::linkFailed(const link::LinkFault& fault) {
    {
        std::lock_guard<std::mutex> lk(m_);
        failure_ = fault;
    }
    post_();
}

void NotificationBridge::cancelWaits() {
    std::lock_guard<std::mutex> lk(m_);
    cancelled_ = true;
    pending_.reset();
    cv_.notify_all();
}

void NotificationBridge::reset() {
    std::lock_guard<std::mutex> lk(m_);
    cancelled_ = false;
}

void NotificationBridge::deliver() {
    std::optional<std::uint8_t> code;
    std::optional<link::LinkFault> failure;
    {
        std::lock_guard<std::mutex> lk(m_);
        if (!handled_ && !cancelled_) code = pending_;
        failure.swap(failure_);
    }
    if (code) {
        handler_(*code);
        {
            std::lock_guard<std::mutex> lk(m_);
            handled_ = true;
        }
        // Woken after the lock is free, the worker does not wait for it again.
        cv_.notify_all();
    }
    if (failure) onFailure_(*failure);
}

} // namespace norvex::ui
