// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/SensorsData.h"
#include "diagnostics/SensorsPage.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

using namespace norvex;
using namespace norvex::diagnostics;
using norvex::test::RecordingSurface;

TEST(SensorsRecord, GroupsArriveFrontRightFirstWithBigEndianGains) {
    std::array<std::uint8_t, SENSORS_DATA_BYTES> rec{};
    for (int g = 0; g < 5; ++g) { // group g: gain (g+1)*256 + 0x2C, target 10+g, reading 20+g, status g
        rec[5 * g] = static_cast<std::uint8_t>(g + 1);
        rec[5 * g + 1] = 0x2C;
        rec[5 * g + 2] = static_cast<std::uint8_t>(10 + g);
        rec[5 * g + 3] = static_cast<std::uint8_t>(20 + g);
        rec[5 * g + 4] = static_cast<std::uint8_t>(g);
    }
    rec[25] = 31;
    rec[26] = 5;
    SensorsData d;
    decodeSensors(rec.data(), d);

    // Bytes 0-4 are "Front right" (row 2), 15-19 "Sidelook" (row 0).
    EXPECT_EQ(d.sensor[2].gain, 0x012C);
    EXPECT_EQ(d.sensor[2].target, 10);
    EXPECT_EQ(d.sensor[2].reading, 20);
    EXPECT_EQ(d.sensor[3].gain, 0x022C);
    EXPECT_EQ(d.sensor[4].gain, 0x032C);
    EXPECT_EQ(d.sensor[0].gain, 0x042C);
    EXPECT_EQ(d.sensor[0].status, 3);
    EXPECT_EQ(d.sensor[1].reading, 24);
    EXPECT_EQ(d.tempAtVla, 31);
    EXPECT_EQ(d.tempCurrent, 5);
}

TEST(SensorsPage, RowsShowPaddedValuesAndAnyNonZeroStatusAsOpen) {
    SensorsData d;
    d.sensor[0] = {0x012C, 7, 100, 0};
    d.sensor[1] = {0x00FF, 0, 255, 2};
    d.sensor[4] = {0xABCD, 1, 2, 255};
    d.tempCurrent = 5;
    d.tempAtVla = 105;
    RecordingSurface s;
    drawSensorsPage(s, d);
    auto at = [&](int x, int y) { return s.textAt(x, y) ? s.textAt(x, y)->text : "<none>"; };

    EXPECT_EQ(at(60, 230), "Sidelook");
    EXPECT_EQ(at(60, 302), "Rear exit");
    EXPECT_EQ(at(180, 230), "012C");
    EXPECT_EQ(at(260, 230), "007");
    EXPECT_EQ(at(340, 230), "100");
    EXPECT_EQ(at(180, 248), "00FF");
    EXPECT_EQ(at(180, 302), "ABCD");
    EXPECT_EQ(s.textAt(180, 230)->colour, colours::GREEN);

    EXPECT_EQ(at(420, 230), "closed");
    EXPECT_EQ(s.textAt(420, 230)->colour, colours::RED);
    EXPECT_EQ(at(420, 248), "open");
    EXPECT_EQ(s.textAt(420, 248)->colour, colours::GREY);
    EXPECT_EQ(at(420, 302), "open");

    EXPECT_EQ(at(180, 330), "Current :  05");
    EXPECT_EQ(at(340, 330), "At vla  :  105");
    for (const auto& t : s.texts)
        EXPECT_EQ(t.background, colours::BLACK) << t.text;

    EXPECT_EQ(s.lines.size(), 10u);
    EXPECT_TRUE(s.hasLine(325, 203, 325, 350));
    EXPECT_TRUE(s.hasLine(410, 203, 410, 325)); // stops above the temperature row
    EXPECT_TRUE(s.hasLine(45, 225, 500, 225));
}
