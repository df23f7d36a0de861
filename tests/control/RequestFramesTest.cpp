// SPDX-License-Identifier: GPL-3.0-or-later
// Request frames with their checksums.

#include "control/RequestFrames.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvex::control;
using namespace norvex::link;
using Bytes = std::vector<std::uint8_t>;

static Bytes frameOf(RequestKind k, std::uint32_t mask = 0) {
    const RequestFrame f = requestFrame(k, mask);
    return Bytes(f.bytes.begin(), f.bytes.begin() + static_cast<long>(f.length));
}

TEST(RequestFrames, EveryKindEndsWithItsChecksum) {
    const std::pair<RequestKind, Bytes> table[] = {
        {REQ_RESET, {0x30, 0x30}},
        {REQ_SETUP, {0x31, 0x31}},
        {REQ_POLL, {0x33, 0x33}},
        {REQ_ESCROW_STACK, {0x35, 0x01, 0x36}},
        {REQ_ESCROW_RETURN, {0x35, 0x00, 0x35}},
        {REQ_CASS_INFO, {0x36, 0x36}},
        {REQ_DEVICE_ID, {0x37, 0x00, 0x37}},
        {REQ_SENSORS, {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE9, 0x17}},
        {REQ_OPTICS, {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE8, 0x16}},
        {REQ_VIDEO, {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE7, 0x15}},
        {REQ_STATISTICS, {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B}},
        {REQ_CLEAR_STATS, {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0x32, 0x60}}};
    for (const auto& [kind, bytes] : table)
        EXPECT_EQ(frameOf(kind), bytes) << kind;
    // BILL TYPE: bill enables 15..8, 7..0, then escrow enables, most significant byte first
    EXPECT_EQ(frameOf(REQ_TYPE_ESCR, 0x00FF00FF), (Bytes{0x34, 0x00, 0xFF, 0x00, 0xFF, 0x32}));
    EXPECT_EQ(frameOf(REQ_TYPE_ESCR, 0xFFFFFFFF), (Bytes{0x34, 0xFF, 0xFF, 0xFF, 0xFF, 0x30}));
}

// Request and answer on the bus (the optics record alone takes 386 ms), plus the validator's
// own delay: a standard answer starts within 5 ms, the manufacturer's records get 100 ms.
TEST(RequestFrames, AwaitedAnswersFitInTheirTimeouts) {
    for (RequestKind k : AWAITED_ORDER) {
        const std::size_t request = requestFrame(k).length;
        const unsigned delayUs = request == 8 ? 100000 : 5000;
        EXPECT_GE(requestInfo(k).timeoutMs * 1000u,
                  busTimeUs(request + requestInfo(k).answerLength) + delayUs)
            << k;
    }
}
