// SPDX-License-Identifier: GPL-3.0-or-later
// Which POLL answers are the validator's resends of one handed on already.

#include "link/ResendGuard.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvex::link;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes POLL{0x33, 0x33};
const Bytes STACKED{0x80, 0x80};

struct Step {
    Bytes frame;
    Bytes answer; // empty: none completed; {00}: a bare ACK
    std::chrono::microseconds ackDelay{0};
};

// How many of the steps' answers count as new.
int counted(const std::vector<Step>& steps) {
    ResendGuard guard;
    int n = 0;
    for (const Step& s : steps) {
        guard.frameSent(s.frame.data(), s.frame.size());
        if (s.answer.size() == 1) guard.answerWithoutData();
        if (s.answer.size() > 1 && !guard.answerAcknowledged(s.answer.data(), s.answer.size(), s.ackDelay))
            ++n;
    }
    return n;
}

} // namespace

TEST(ResendGuard, TheSameAnswerAfterAnAckThatMayHaveBeenLateCountsOnce) {
    struct Case {
        const char* what;
        std::vector<Step> steps;
        int expected;
    };
    const Case cases[] = {
        {"ACK at 5.2 ms, the same answer again", {{POLL, STACKED, 5200us}, {POLL, STACKED, 300us}}, 1},
        {"ACK at 1 ms, the same answer again: a second bill",
         {{POLL, STACKED, 1000us}, {POLL, STACKED, 1000us}},
         2},
        {"ACK late twice: every resend is one",
         {{POLL, STACKED, 6ms}, {POLL, STACKED, 6ms}, {POLL, STACKED, 1ms}},
         1},
        {"ACK after a quiet window of 1.5 ms: it may have been late",
         {{POLL, STACKED, 1500us}, {POLL, STACKED}},
         1},
        {"another answer between",
         {{POLL, STACKED, 6ms}, {POLL, {0x81, 0x81}, 1ms}, {POLL, STACKED, 1ms}},
         3},
        {"a bare ACK between: the validator held nothing",
         {{POLL, STACKED, 6ms}, {POLL, {0x00}}, {POLL, STACKED}},
         2},
        {"RESET between: the validator forgot it",
         {{POLL, STACKED, 6ms}, {{0x30, 0x30}, {0x00}}, {POLL, STACKED}},
         2},
        {"ESCROW and a POLL without an answer between",
         {{POLL, STACKED, 6ms}, {{0x35, 0x01, 0x36}, {0x00}}, {POLL, {}}, {POLL, STACKED, 1ms}},
         1},
        {"a short answer to another frame is no POLL answer",
         {{POLL, STACKED, 6ms}, {{0x34, 0, 0, 0, 0, 0x34}, STACKED, 6ms}, {POLL, STACKED}},
         2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(counted(c.steps), c.expected) << c.what;

    // An answer ended too early and taken up again is judged whole, against what came before it.
    ResendGuard guard;
    guard.frameSent(POLL.data(), POLL.size());
    EXPECT_FALSE(guard.answerAcknowledged(STACKED.data(), STACKED.size(), 6ms));
    guard.frameSent(POLL.data(), POLL.size());
    EXPECT_FALSE(guard.answerAcknowledged(STACKED.data(), 1, 3ms)); // 80 alone, ended early
    guard.answerResumed();
    EXPECT_TRUE(guard.answerAcknowledged(STACKED.data(), STACKED.size(), 3ms));
}
