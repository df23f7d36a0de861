// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/DataRecorder.h"

#include <gtest/gtest.h>

#include <vector>

using norvex::link::TrafficBuffer;
using norvex::ui::formatTrafficRecord;

namespace {
// The request from position 0, the answer after it, the ACK (if any) at the last answer byte.
TrafficBuffer exchange(std::vector<std::uint8_t> request, std::vector<std::uint8_t> answer, bool acked) {
    TrafficBuffer t;
    std::size_t pos = 0;
    for (auto b : request)
        t.sent[pos++] = b;
    for (auto b : answer)
        t.received[pos++] = b;
    if (acked) t.sent[pos - 1] = 0x0000;
    return t;
}
} // namespace

TEST(TrafficRecord, LineHoldsExactlyTheAnswerBytesWithOrWithoutAck) {
    EXPECT_EQ(formatTrafficRecord(100, exchange({0x33, 0x33}, {0x03, 0x03}, true)),
              "time: 000000100  vmc: 33 val: 03 03 \r\n");
    // Ending in 00, this answer completes without the controller's ACK.
    EXPECT_EQ(formatTrafficRecord(3000000000u, exchange({0x33, 0x33}, {0xC0, 0x40, 0x00}, false)),
              "time: 3000000000  vmc: 33 val: C0 40 00 \r\n");

    std::vector<std::uint8_t> stats(73, 0xA5); // statistics record, ACKed
    stats.front() = 0x00;
    stats.back() = 0xFF;
    std::string fields = " 00";
    for (int k = 1; k < 72; ++k)
        fields += " A5";
    EXPECT_EQ(formatTrafficRecord(5, exchange({0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B}, stats, true)),
              "time: 000000005  vmc: 37 val:" + fields + " FF \r\n");
}

TEST(TrafficRecord, NoLineForShortOrMissingAnswersOrMissingRequest) {
    EXPECT_FALSE(formatTrafficRecord(1, exchange({0x33, 0x33}, {0x00}, false))); // lone ACK
    EXPECT_FALSE(formatTrafficRecord(1, exchange({0x33, 0x33}, {}, false)));
    EXPECT_FALSE(formatTrafficRecord(1, exchange({}, {0x00, 0x03, 0x03}, false)));
}
