// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/FrameParser.h"

#include <gtest/gtest.h>

using namespace norvex::sim;
using Type = ParsedItem::Type;

namespace {

std::vector<ParsedItem> feed(FrameParser& p, Bytes bytes, std::int64_t us = 0) {
    return p.feed(bytes, us);
}

std::vector<FrameKind> frameKinds(const std::vector<ParsedItem>& items) {
    std::vector<FrameKind> kinds;
    for (const auto& i : items)
        if (i.type == Type::Frame) kinds.push_back(i.kind);
    return kinds;
}

} // namespace

TEST(SimFrameParser, TellsEveryControllerFrameByCommandByteAndLength) {
    FrameParser p;
    const auto items = feed(p, {0x30, 0x30, 0x31, 0x31, 0x33, 0x33, 0x34, 0x00, 0xFF, 0x00, 0xFF,
                                0x32, 0x35, 0x01, 0x36, 0x36, 0x36, 0x37, 0x00, 0x37, 0x37, 0xFF,
                                0x56, 0x4E, 0x54, 0x00, 0xE9, 0x17, 0x00, 0x32, 0x00, 0x00, 0x32});
    EXPECT_EQ(frameKinds(items), (std::vector<FrameKind>{
                                     FrameKind::Reset, FrameKind::Setup, FrameKind::Poll, FrameKind::BillType,
                                     FrameKind::Escrow, FrameKind::Stacker, FrameKind::Identification,
                                     FrameKind::Diagnostics, FrameKind::Ack, FrameKind::Security}));
    EXPECT_EQ(items.size(), 10u);
    EXPECT_EQ(items[3].bytes, (Bytes{0x34, 0x00, 0xFF, 0x00, 0xFF, 0x32}));
}

TEST(SimFrameParser, AssemblesAFrameThatArrivesInPiecesWithinTheGap) {
    FrameParser p(20000);
    EXPECT_TRUE(feed(p, {0x37, 0xFF, 0x56}, 0).empty());
    EXPECT_TRUE(feed(p, {0x4E, 0x54, 0x00}, 5000).empty());
    const auto items = feed(p, {0xDD, 0x0B}, 10000);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].kind, FrameKind::Diagnostics);
}

TEST(SimFrameParser, AWrongChecksumGetsNoFrameAndTheNextFrameIsRecognised) {
    FrameParser p;
    auto items = feed(p, {0x34, 0x00, 0xFF, 0x00, 0xFF, 0x33});
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].type, Type::BadChecksum);
    EXPECT_EQ(items[0].kind, FrameKind::BillType);
    // The rest of the broken frame is rubble: its 00 is not taken for an acknowledge.
    EXPECT_EQ(items[1].type, Type::Garbage);
    EXPECT_TRUE(frameKinds(items).empty());
    items = feed(p, {0x33, 0x33}, 100000);
    EXPECT_EQ(frameKinds(items), std::vector<FrameKind>{FrameKind::Poll});
}

TEST(SimFrameParser, ResynchronisesAfterStrayBytesInFrontOfAFrame) {
    FrameParser p;
    auto items = feed(p, {0xE5, 0x5E, 0x33, 0x33});
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].type, Type::Garbage);
    EXPECT_EQ(items[0].bytes, (Bytes{0xE5, 0x5E}));
    EXPECT_EQ(items[1].kind, FrameKind::Poll);

    // A stray byte that looks like a command byte costs only itself.
    items = feed(p, {0x33, 0x30, 0x30}, 100000);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].type, Type::BadChecksum);
    EXPECT_EQ(items[1].kind, FrameKind::Reset);

    // An unknown expansion sub-command starts no frame.
    items = feed(p, {0x37, 0x05, 0x31, 0x31}, 200000);
    EXPECT_EQ(frameKinds(items), std::vector<FrameKind>{FrameKind::Setup});
}

TEST(SimFrameParser, SilenceAbandonsAPartialFrame) {
    FrameParser p(20000);
    EXPECT_TRUE(feed(p, {0x33}, 0).empty());
    ASSERT_TRUE(p.deadline().has_value());
    EXPECT_TRUE(p.expire(15000).empty());
    auto items = p.expire(25000);
    ASSERT_EQ(items.size(), 1u);
    EXPECT_EQ(items[0].type, Type::Incomplete);
    EXPECT_FALSE(p.deadline().has_value());

    // Without a call to expire(), the next bytes after the gap drop the old start first.
    feed(p, {0x35, 0x01}, 100000);
    items = feed(p, {0x30, 0x30}, 200000);
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0].type, Type::Incomplete);
    EXPECT_EQ(items[1].kind, FrameKind::Reset);
}
