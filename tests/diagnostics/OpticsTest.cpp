// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/OpticsData.h"
#include "diagnostics/OpticsPage.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

using namespace norvex;
using namespace norvex::diagnostics;
using norvex::test::RecordingSurface;

namespace {

std::string textAt(const RecordingSurface& s, int x, int y) {
    const auto* t = s.textAt(x, y);
    return t ? t->text : "<none>";
}

} // namespace

TEST(OpticsRecord, BlocksAreChannelMajorGainsBigEndianEmittersSecondByte) {
    std::array<std::uint8_t, OPTICS_DATA_BYTES> rec{};
    rec[0] = 1;                       // reflWhite [0][0]
    rec[28 + 4 * 3 + 1] = 200;        // transWhite [3][1]
    rec[56 + 27] = 3;                 // reflBlack [6][3]
    rec[84 + 4 * 2 + 2] = 4;          // transBlack [2][2]
    rec[112] = 0x01, rec[113] = 0x23; // transGain [0][0]
    rec[222] = 0xAB, rec[223] = 0xCD; // reflGain [6][3]
    rec[234] = 0xEE, rec[235] = 55;   // transEmitter [1][1]
    rec[334] = 0xEE, rec[335] = 66;   // reflEmitter [6][3], the last data byte
    OpticsData d;
    d.selectedColour = COLOUR_BLUE;
    decodeOptics(rec.data(), d);

    EXPECT_EQ(d.reflWhite[0][0], 1);
    EXPECT_EQ(d.transWhite[3][1], 200);
    EXPECT_EQ(d.reflBlack[6][3], 3);
    EXPECT_EQ(d.transBlack[2][2], 4);
    EXPECT_EQ(d.transGain[0][0], 0x0123);
    EXPECT_EQ(d.reflGain[6][3], 0xABCD);
    EXPECT_EQ(d.transEmitter[1][1], 55);
    EXPECT_EQ(d.transEmitter[1][0], 0); // the dropped first byte of the pair
    EXPECT_EQ(d.reflEmitter[6][3], 66);
    EXPECT_EQ(d.selectedColour, COLOUR_BLUE); // a new record keeps the colour shown

    resetOptics(d);
    EXPECT_EQ(d.selectedColour, COLOUR_RED);
    EXPECT_EQ(d.reflGain[6][3], 0);
}

TEST(OpticsPage, SelectedColourInChannelOrder31024WithHexGains) {
    OpticsData d;
    d.transWhite[3][1] = 200; // green, channel 3: leftmost column
    d.transWhite[4][1] = 44;  // channel 4: rightmost column
    d.transGain[0][0] = 0x123;
    d.transGain[1][0] = 0x1234;
    d.transGain[2][0] = 10;
    d.reflGain[2][0] = 0xFFFF;
    RecordingSurface green, red;
    drawOpticsPage(green, d, COLOUR_GREEN);
    drawOpticsPage(red, d, COLOUR_RED);

    EXPECT_EQ(textAt(green, 215, 220), "200");
    EXPECT_EQ(green.textAt(215, 220)->colour, colours::GREEN);
    EXPECT_EQ(textAt(green, 455, 220), "044");
    EXPECT_EQ(textAt(red, 215, 220), "000");
    EXPECT_FALSE(red.hasText("200"));

    EXPECT_EQ(textAt(red, 335, 265), "123");
    EXPECT_EQ(red.textAt(335, 265)->colour, colours::RED);
    EXPECT_EQ(textAt(red, 275, 265), "1234");
    EXPECT_EQ(textAt(red, 395, 265), "00A");
    EXPECT_EQ(textAt(red, 395, 335), "FFFF");
    EXPECT_EQ(textAt(red, 209, 200), "Chan 3");
    EXPECT_EQ(red.textAt(209, 200)->colour, colours::GREY);
}

TEST(OpticsPage, ReflectiveBandLeavesChannels3And4EmptyAndInfraredIsYellow) {
    OpticsData d;
    for (auto& ch : d.reflWhite)
        ch.fill(9);
    RecordingSurface s;
    drawOpticsPage(s, d, COLOUR_INFRARED);
    for (int y : {290, 305, 320, 335}) {
        EXPECT_EQ(s.textAt(215, y), nullptr) << y;
        EXPECT_EQ(s.textAt(455, y), nullptr) << y;
    }
    EXPECT_EQ(textAt(s, 335, 290), "009");
    EXPECT_EQ(s.textAt(335, 290)->colour, colours::YELLOW);
    EXPECT_EQ(s.lines.size(), 11u);
    EXPECT_TRUE(s.hasLine(200, 198, 200, 355));
    EXPECT_TRUE(s.hasLine(35, 285, 500, 285));
}

TEST(OpticsPage, ColourOutsideTheFourIsShownAsRedWithoutReadingPastTheTables) {
    OpticsData d;
    d.transWhite[0][0] = 77;
    for (int colour : {-1, 4, 1000}) {
        RecordingSurface s;
        drawOpticsPage(s, d, colour);
        EXPECT_EQ(textAt(s, 335, 220), "077") << colour;
        EXPECT_EQ(s.textAt(335, 220)->colour, colours::RED) << colour;
    }
}
