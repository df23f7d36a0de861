// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExchangeRecorder.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace norvex::link {

static_assert(std::is_trivially_copyable_v<ExchangeRecord>);

const char* exchangeEndName(ExchangeEnd end) {
    switch (end) {
    case ExchangeEnd::AckSent:
        return "ACK sent";
    case ExchangeEnd::Nak:
        return "NAK";
    case ExchangeEnd::BareAck:
        return "bare ACK";
    case ExchangeEnd::Silence:
        return "silence";
    case ExchangeEnd::Purged:
        return "purged";
    case ExchangeEnd::Stray:
        return "stray bytes";
    case ExchangeEnd::ChecksumFault:
        return "checksum fault, not acknowledged";
    }
    return "?";
}

namespace {

std::size_t roundUp(std::size_t n) {
    std::size_t c = 2;
    while (c < n)
        c <<= 1;
    return c;
}

std::int64_t wallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

ExchangeRecorder::ExchangeRecorder(std::size_t capacity)
    : slots_(std::make_unique<Slot[]>(roundUp(capacity))), mask_(roundUp(capacity) - 1),
      wallOffsetUs_(wallMicros() - micros(Clock::now())) {}

// --- worker side -----------------------------------------------------------------------------------

void ExchangeRecorder::frameSent(const std::uint8_t* frame, std::size_t length, Clock::time_point when) {
    if (isOpen_) {
        if (open_.sentUs >= 0) {
            // The answer did not complete: nothing came, or what came was never acknowledged (the
            // validator sends unacknowledged data again).
            open_.end = open_.received == 0 ? ExchangeEnd::Silence : ExchangeEnd::Purged;
            if (open_.received > 0) {
                const std::size_t n = open_.answerLength();
                open_.repeat = n >= 2 && n == unackedLength_ &&
                               std::equal(unacked_.begin(), unacked_.begin() + n, open_.answer.begin());
                std::copy_n(open_.answer.begin(), n, unacked_.begin());
                unackedLength_ = n;
            }
        }
        publish();
    }
    open_ = ExchangeRecord{};
    open_.sentUs = micros(when);
    open_.wallUs = wallOffsetUs_ + open_.sentUs;
    open_.frameLength = static_cast<std::uint8_t>(std::min(length, open_.frame.size()));
    std::copy_n(frame, open_.frameLength, open_.frame.begin());
    isOpen_ = true;
}

void ExchangeRecorder::openStray(std::int64_t firstUs) {
    open_ = ExchangeRecord{};
    open_.end = ExchangeEnd::Stray;
    open_.wallUs = wallOffsetUs_ + firstUs;
    open_.firstUs = firstUs;
    isOpen_ = true;
}

void ExchangeRecorder::append(const std::uint8_t* bytes, std::size_t count, std::int64_t whenUs) {
    if (count == 0) return;
    if (open_.firstUs < 0) open_.firstUs = whenUs;
    open_.lastUs = whenUs;
    for (std::size_t i = 0; i < count; ++i) {
        if (open_.received < EXCHANGE_BYTES) open_.answer[open_.received] = bytes[i];
        if (open_.received < UINT32_MAX) ++open_.received;
    }
}

void ExchangeRecorder::received(const std::uint8_t* bytes, std::size_t count, std::size_t used,
                                Clock::time_point when) {
    const std::int64_t w = micros(when);
    used = std::min(used, count);
    if (used > 0) {
        if (!isOpen_) openStray(w);
        append(bytes, used, w);
    }
    // Bytes after the completing one: kept until the completion has been recorded.
    const std::size_t rest = std::min(count - used, dropped_.size() - droppedCount_);
    if (rest > 0) {
        std::copy_n(bytes + used, rest, dropped_.begin() + static_cast<std::ptrdiff_t>(droppedCount_));
        droppedCount_ += rest;
        droppedUs_ = w;
    }
}

void ExchangeRecorder::received(const LineByte* bytes, std::size_t count, std::size_t used,
                                Clock::time_point when) {
    count = std::min(count, line_.size());
    for (std::size_t i = 0; i < count; ++i)
        line_[i] = bytes[i].value;
    received(line_.data(), count, used, when);
}

void ExchangeRecorder::answerCompleted(std::uint8_t code, bool acknowledged, Clock::time_point ackAt,
                                       bool resend) {
    if (!isOpen_) openStray(micros(ackAt));
    open_.completion = code;
    const std::size_t n = open_.answerLength();
    if (acknowledged) {
        open_.end = ExchangeEnd::AckSent;
        open_.ackUs = micros(ackAt);
    } else {
        open_.end = n > 0 && open_.answer[n - 1] == 0xFF ? ExchangeEnd::Nak : ExchangeEnd::BareAck;
    }
    open_.repeat =
        n >= 2 && n == unackedLength_ &&
        std::equal(unacked_.begin(), unacked_.begin() + static_cast<std::ptrdiff_t>(n), open_.answer.begin());
    open_.resend = resend;
    unackedLength_ = 0;
    publishWithDropped();
}

void ExchangeRecorder::answerFaulty() {
    if (!isOpen_) return;
    open_.end = ExchangeEnd::ChecksumFault;
    // Not acknowledged: the validator keeps the record and sends it again when asked.
    const std::size_t n = open_.answerLength();
    open_.repeat = n >= 2 && n == unackedLength_ &&
                   std::equal(unacked_.begin(), unacked_.begin() + n, open_.answer.begin());
    std::copy_n(open_.answer.begin(), n, unacked_.begin());
    unackedLength_ = n;
    publishWithDropped();
}

void ExchangeRecorder::publishWithDropped() {
    open_.strayBeforeAck = droppedCount_ > 0 && open_.ackUs >= 0;
    publish();
    if (droppedCount_ > 0) {
        openStray(droppedUs_);
        append(dropped_.data(), droppedCount_, droppedUs_);
        droppedCount_ = 0;
    }
}

void ExchangeRecorder::linkClosed() {
    if (isOpen_) {
        if (open_.sentUs >= 0) open_.end = open_.received == 0 ? ExchangeEnd::Silence : ExchangeEnd::Purged;
        publish();
    }
    droppedCount_ = 0;
    unackedLength_ = 0;
    // The next session's time stamps follow the wall clock as it is then.
    wallOffsetUs_ = wallMicros() - micros(Clock::now());
}

void ExchangeRecorder::publish() {
    open_.number = ++produced_;
    Slot& slot = slots_[produced_ & mask_];
    // The slot is marked busy before any of its words changes: every word is stored with
    // release, so a reader that sees a new word also sees the mark (no fences: the thread
    // sanitizer does not follow them).
    slot.sequence.store(0, std::memory_order_relaxed);
    const auto* bytes = reinterpret_cast<const unsigned char*>(&open_);
    for (std::size_t i = 0; i < WORDS; ++i) {
        std::uint64_t w = 0;
        std::memcpy(&w, bytes + i * 8, std::min<std::size_t>(8, sizeof(ExchangeRecord) - i * 8));
        slot.words[i].store(w, std::memory_order_release);
    }
    slot.sequence.store(produced_, std::memory_order_release);
    published_.store(produced_, std::memory_order_release);
    isOpen_ = false;
}

// --- reader side -----------------------------------------------------------------------------------

std::size_t ExchangeRecorder::drain(std::vector<ExchangeRecord>& out) {
    const std::uint64_t last = published_.load(std::memory_order_acquire);
    if (last < next_) return 0;
    const std::uint64_t capacity = mask_ + 1;
    if (last - next_ + 1 > capacity) {
        // The oldest ones have been overwritten already.
        lost_ += last - next_ + 1 - capacity;
        next_ = last - capacity + 1;
    }
    std::size_t taken = 0;
    for (; next_ <= last; ++next_) {
        const Slot& slot = slots_[next_ & mask_];
        if (slot.sequence.load(std::memory_order_acquire) != next_) {
            ++lost_;
            continue;
        }
        ExchangeRecord r;
        auto* bytes = reinterpret_cast<unsigned char*>(&r);
        for (std::size_t i = 0; i < WORDS; ++i) {
            const std::uint64_t w = slot.words[i].load(std::memory_order_acquire);
            std::memcpy(bytes + i * 8, &w, std::min<std::size_t>(8, sizeof(ExchangeRecord) - i * 8));
        }
        if (slot.sequence.load(std::memory_order_relaxed) != next_) {
            // Overwritten while it was copied: the worker is more than a ring ahead.
            ++lost_;
            continue;
        }
        out.push_back(r);
        ++taken;
    }
    return taken;
}

} // namespace norvex::link
