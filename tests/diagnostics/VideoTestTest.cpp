// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/VideoTestData.h"
#include "diagnostics/VideoTestPage.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

using namespace norvex;
using namespace norvex::diagnostics;
using norvex::test::RecordingSurface;

namespace {

// Offset of the reflective byte of a sample; the transmissive byte follows it.
std::size_t pairOffset(int sample, int channel, int colour) {
    return static_cast<std::size_t>(2 * (28 * sample + 4 * channel + colour));
}

// Whether a 2-pixel mark of the colour runs from (x1, y) to (x2, y).
bool hasMark(const RecordingSurface& s, int x1, int x2, int y, Rgb colour) {
    for (const auto& l : s.lines)
        if (l.width == 2 && l.x1 == x1 && l.x2 == x2 && l.y1 == y && l.y2 == y) return l.colour == colour;
    return false;
}

} // namespace

TEST(VideoTestRecord, SamplesAreStoredAndSampleZeroBecomesTheTruncatedAverage) {
    std::array<std::uint8_t, VIDEO_TEST_DATA_BYTES> rec{};
    const std::uint8_t infrared[5] = {80, 80, 80, 80, 84};
    for (int s = 0; s < 5; ++s) {
        rec[pairOffset(s, 0, COLOUR_RED)] = 0x10;
        rec[pairOffset(s, 0, COLOUR_RED) + 1] = 0x60;
        rec[pairOffset(s, 3, COLOUR_INFRARED) + 1] = infrared[s];
        rec[pairOffset(s, 1, COLOUR_GREEN)] = 255; // five times 255 overflows a byte
    }
    rec[278] = 7, rec[279] = 8; // sample 4, channel 6, infrared: the last pair
    VideoTestData d;
    decodeVideoTest(rec.data(), d);

    EXPECT_EQ(d.videoRefl[0][COLOUR_RED][0], 16);
    EXPECT_EQ(d.videoTrans[0][COLOUR_RED][0], 96);
    EXPECT_EQ(d.videoTrans[3][COLOUR_INFRARED][0], 80); // 404 / 5
    EXPECT_EQ(d.videoTrans[3][COLOUR_INFRARED][4], 84); // samples 1-4 stay as received
    EXPECT_EQ(d.videoRefl[1][COLOUR_GREEN][0], 255);
    EXPECT_EQ(d.videoRefl[6][COLOUR_INFRARED][4], 7);
    EXPECT_EQ(d.videoTrans[6][COLOUR_INFRARED][0], 1); // 8 / 5
}

TEST(VideoMark, TwoPixelsPerLevelClampedJustOutsideTheGraph) {
    EXPECT_EQ(videoMarkY(80, false), 280);
    EXPECT_EQ(videoMarkY(96, false), 248);
    EXPECT_EQ(videoMarkY(110, false), 220);
    EXPECT_EQ(videoMarkY(111, false), 217);
    EXPECT_EQ(videoMarkY(50, false), 340);
    EXPECT_EQ(videoMarkY(49, false), 343);
    EXPECT_EQ(videoMarkY(242, true), 236);
    EXPECT_EQ(videoMarkY(250, true), 220);
    EXPECT_EQ(videoMarkY(251, true), 217);
    EXPECT_EQ(videoMarkY(190, true), 340);
    EXPECT_EQ(videoMarkY(189, true), 343);
}

TEST(VideoTestPage, MarksSitInTheirChannelsGraphAndColourCell) {
    VideoTestData d;
    d.videoTrans[0][COLOUR_RED][0] = 96;      // middle transmissive graph, x0 170
    d.videoRefl[0][COLOUR_RED][0] = 16;       // middle reflective graph, x0 425
    d.videoRefl[2][COLOUR_INFRARED][0] = 242; // rightmost reflective graph, x0 480
    d.videoTrans[3][COLOUR_GREEN][0] = 110;   // leftmost transmissive graph, x0 60
    d.videoTrans[0][COLOUR_RED][1] = 200;     // samples other than 0 are not shown
    RecordingSurface s;
    drawVideoTestPage(s, d);

    EXPECT_TRUE(hasMark(s, 171, 181, 248, colours::RED));
    EXPECT_TRUE(hasMark(s, 426, 436, 343, colours::RED));
    EXPECT_TRUE(hasMark(s, 517, 527, 236, colours::YELLOW));
    EXPECT_TRUE(hasMark(s, 73, 83, 220, colours::GREEN));
    EXPECT_TRUE(hasMark(s, 195, 205, 343, colours::BLUE)); // zero lies below the graph
    int marks = 0;
    for (const auto& l : s.lines)
        marks += l.width == 2;
    EXPECT_EQ(marks, 32);
}

TEST(VideoTestPage, GridsReferenceLinesAndScale) {
    RecordingSurface s;
    drawVideoTestPage(s, VideoTestData{});

    EXPECT_EQ(s.lines.size(), 8u * 18u); // per graph 7 + 5 grid lines, 2 references, 4 marks
    EXPECT_TRUE(s.hasLine(60, 220, 109, 220));
    EXPECT_TRUE(s.hasLine(108, 220, 108, 340));
    EXPECT_TRUE(s.hasLine(280, 264, 328, 264));
    EXPECT_TRUE(s.hasLine(280, 297, 328, 297));
    EXPECT_TRUE(s.hasLine(370, 236, 418, 236));
    EXPECT_TRUE(s.hasLine(370, 324, 418, 324));
    EXPECT_FALSE(s.hasLine(370, 264, 418, 264));

    auto at = [&](int x, int y) { return s.textAt(x, y) ? s.textAt(x, y)->text : "<none>"; };
    EXPECT_EQ(at(70, 200), "ch 3");
    EXPECT_EQ(at(435, 200), "ch 0");
    EXPECT_EQ(at(30, 273), " 80");
    EXPECT_EQ(at(340, 213), "250");
    EXPECT_EQ(at(60, 345), "transmissive");
    for (const auto& t : s.texts)
        EXPECT_TRUE(t.colour == colours::TEAL && t.background == colours::BLACK);
}
