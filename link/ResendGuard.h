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
    // the answer: a USB adapter holds a received byte until its latency timer runs out and sends
    // ours at the next USB frame; a terminal, pseudo or real, hands received bytes over in a
    // kernel worker thread of normal priority, which a busy machine holds back by milliseconds
    // (the link benchmark's bare pty round trip: p99 0.2 ms on a quiet machine, 3-5 ms while
    // other programs keep both processors busy). Those delays are measured on the port itself:
    // from a frame leaving to the first byte of its answer pass both of them and the validator's
    // own reply time, so the longest of the recent round trips bounds what the acknowledge and
    // the answer's last byte spent between the controller and the wire. An acknowledge that left
    // earlier than 5 ms less that margin was in time; the quiet window (1.5-3 ms) therefore
    // counts as in time on a port that answers promptly, not on a slow or busy one.
    static constexpr std::chrono::microseconds ACK_WINDOW{5000};
    static constexpr std::chrono::microseconds LEAST_MARGIN{1000};
    static constexpr std::chrono::microseconds MOST_MARGIN{4000};
    // The round trips of the last seconds of polling set the margin: a machine that was busy a
    // moment ago may hold the next byte back as long again.
    static constexpr std::size_t ROUND_TRIPS = 256;
    static constexpr std::size_t KNOWN_AFTER = 8; // round trips before the margin is measured

    // A frame's answer began `roundTrip` after the frame left.
    void replyBegan(std::chrono::microseconds roundTrip);
    // What the port adds between the controller's clock and the wire, as measured lately
    // (MOST_MARGIN until enough round trips are known).
    std::chrono::microseconds portMargin() const;

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
    std::array<std::chrono::microseconds, ROUND_TRIPS> roundTrips_{};
    std::size_t roundTripsSeen_ = 0;
};

} // namespace norvex::link
