#include "ResendGuard.h"

#include <algorithm>

namespace norvex::link {

void ResendGuard::frameSent(const std::uint8_t* frame, std::size_t length) {
    if (length < 2) return; // our acknowledge
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
    // Whatever it was, it is what a resend at the next POLL would repeat now.
    suspect_.length = ackDelay > SURELY_IN_TIME ? length : 0;
    std::copy_n(bytes, suspect_.length, suspect_.bytes.begin());
    return resend;
}

void ResendGuard::answerWithoutData() {
    if (!pollOutstanding_) return;
    pollOutstanding_ = false;
    suspect_.length = 0;
}

} // namespace norvex::link
