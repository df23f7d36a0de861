// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Tells a validator's resend of a POLL answer from new data. A validator that does not see the
// controller's acknowledge within 5 ms of its answer keeps the data and sends the same answer
// again at the next POLL. The controller cannot see when its acknowledge reached the line, only
// when it left its own hands: an answer that repeats the previous POLL answer byte for byte, at
// the next POLL, after an acknowledge that may have been late, is that resend. The same answer
// after an acknowledge that was surely in time is new data.

#include "LinkTypes.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>

namespace norvex::link {

class ResendGuard {
public:
    // Between the controller's clock and the wire lie the port's own delays, on both sides of
    // the answer: a USB adapter at its lowest latency setting holds a received byte up to 1 ms
    // before the driver sees it and sends ours at the next 1 ms USB frame; a pseudo-terminal
    // hands bytes over in a kernel worker thread of normal priority, which a busy machine holds
    // back by several milliseconds either way (the link benchmark's bare round trip: p99 0.2 ms
    // on a quiet machine, 3-5 ms while other programs keep both processors busy, far more under
    // a build). An acknowledge that left within 1 ms of the answer's last byte (the mode bit
    // framed it) reached the line in time; one that waited for the quiet window may not have.
    // A margin measured from the port's recent round trips instead let stalls through that the
    // round trips had not shown (bills counted twice under load). The price of this one: on a
    // port framed by the quiet line, the same answer twice at consecutive POLLs counts once.
    // A validator does not stack two bills within one poll period; a repeated status is lost.
    static constexpr std::chrono::microseconds PORT_MARGIN{4000};
    static constexpr std::chrono::microseconds SURELY_IN_TIME{5000 - PORT_MARGIN.count()};

    // A frame has left. A POLL asks for the answer that may repeat the last one; RESET makes
    // the validator forget what it held.
    void frameSent(const std::uint8_t* frame, std::size_t length);

    // A POLL answer with data completed and was acknowledged `ackDelay` after its last byte
    // arrived. True when it is the validator's resend of the answer handed on before it: it
    // must not count again.
    bool answerAcknowledged(const std::uint8_t* bytes, std::size_t length,
                            std::chrono::microseconds ackDelay);

    // A POLL answer completed without data (a bare ACK or NAK): nothing is held any more.
    void answerWithoutData();

    // The last answer had not ended after all and goes on: it is judged when it ends.
    void answerResumed();
    // ... but it stands as it first ended after all: judged as it was then.
    void resumeAbandoned();

private:
    struct Answer {
        std::array<std::uint8_t, RECORD_DATA_SIZE> bytes{};
        std::size_t length = 0; // 0: none
    };
    bool pollOutstanding_ = false; // the last frame of more than one byte was a POLL
    Answer suspect_;               // the last POLL answer, when its acknowledge may have been late
    Answer before_;                // the suspect before the last answer, while it may go on
    Answer resumedFrom_;           // the suspect after the answer taken up again
    bool mayResume_ = false;
};

} // namespace norvex::link
