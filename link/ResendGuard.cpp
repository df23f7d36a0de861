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
    suspect_.length = ackDelay > SURELY_IN_TIME ? length : 0;
    std::copy_n(bytes, suspect_.length, suspect_.bytes.begin());
    return resend;
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
