// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResendGuard.h"

#include <algorithm>

namespace norvex::link {

void ResendGuard::frameSent(const std::uint8_t* frame, std::size_t length) {
    if (length < 2) return; // our acknowledge
    mayResume_ = false;
    pollOutstanding_ = frame[0] == 0x33;
    if (frame[0] == 0x30) suspect_.length = 0;
}

bool ResendGuard::answerAcknowledged(const std::uint8_t* bytes, std::size_t length,
                                     std::chrono::microseconds ackDelay) {
    if (!pollOutstanding_) return false;
    pollOutstanding_ = false;
    length = std::min(length, suspect_.bytes.size());
    const bool resend =
        suspect_.length == length && std::equal(bytes, bytes + length, suspect_.bytes.begin());
    before_ = suspect_;
    mayResume_ = true;
    // Whatever it was, it is what a resend at the next POLL would repeat now.
    suspect_.length = ackDelay > ACK_WINDOW - portMargin() ? length : 0;
    std::copy_n(bytes, suspect_.length, suspect_.bytes.begin());
    return resend;
}

void ResendGuard::replyBegan(std::chrono::microseconds roundTrip) {
    roundTrips_[roundTripsSeen_ % ROUND_TRIPS] = roundTrip;
    ++roundTripsSeen_;
}

std::chrono::microseconds ResendGuard::portMargin() const {
    // A few round trips say little about a port: until there are enough, the widest margin.
    if (roundTripsSeen_ < KNOWN_AFTER) return MOST_MARGIN;
    const std::size_t n = std::min(roundTripsSeen_, ROUND_TRIPS);
    const auto longest =
        *std::max_element(roundTrips_.begin(), roundTrips_.begin() + static_cast<std::ptrdiff_t>(n));
    return std::clamp(longest, LEAST_MARGIN, MOST_MARGIN);
}

void ResendGuard::answerWithoutData() {
    mayResume_ = false;
    if (!pollOutstanding_) return;
    pollOutstanding_ = false;
    suspect_.length = 0;
}

void ResendGuard::answerResumed() {
    if (!mayResume_) return;
    mayResume_ = false;
    resumedFrom_ = suspect_;
    suspect_ = before_;
    pollOutstanding_ = true;
}

void ResendGuard::resumeAbandoned() {
    if (!pollOutstanding_) return;
    pollOutstanding_ = false;
    suspect_ = resumedFrom_;
}

} // namespace norvex::link
