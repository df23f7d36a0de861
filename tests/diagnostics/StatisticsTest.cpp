// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/StatisticsData.h"
#include "diagnostics/StatisticsPage.h"
#include "support/RecordingSurface.h"

#include <gtest/gtest.h>

using namespace norvex;
using namespace norvex::diagnostics;
using norvex::test::RecordingSurface;

namespace {

StatisticsData withRate(std::uint16_t accepted, std::uint16_t opticalRejects) {
    StatisticsData d;
    d.billsAccepted[3] = accepted;
    d.eventCount[1] = opticalRejects;
    return d;
}

std::string textAt(const RecordingSurface& s, int x, int y) {
    const auto* t = s.textAt(x, y);
    return t ? t->text : "<none>";
}

} // namespace

TEST(StatisticsRecord, CountersAreLittleEndianBillsThenEvents) {
    std::array<std::uint8_t, STATISTICS_DATA_BYTES> rec{};
    rec[0] = 0x34, rec[1] = 0x12;   // bill type 0
    rec[30] = 1;                    // bill type 15
    rec[33] = 1;                    // event 1, high byte
    rec[70] = 0xFF, rec[71] = 0xFF; // event 20, the last bytes
    StatisticsData d;
    d.billsAccepted.fill(7);
    d.eventCount.fill(7);
    decodeStatistics(rec.data(), d);

    EXPECT_EQ(d.billsAccepted[0], 4660);
    EXPECT_EQ(d.billsAccepted[1], 0); // every counter is replaced
    EXPECT_EQ(d.billsAccepted[15], 1);
    EXPECT_EQ(d.eventCount[0], 256);
    EXPECT_EQ(d.eventCount[18], 0);
    EXPECT_EQ(d.eventCount[19], 65535);
}

TEST(AcceptanceRate, TruncatedToHundredthsOverAllBillsAndOnlyOpticalRejections) {
    EXPECT_EQ(acceptanceRateText(withRate(0, 0)), "0.00 %");
    EXPECT_EQ(acceptanceRateText(withRate(5, 0)), "100.00 %");
    EXPECT_EQ(acceptanceRateText(withRate(2, 1)), "66.66 %");
    EXPECT_EQ(acceptanceRateText(withRate(23, 102)), "18.39 %"); // 18.4 is held as 18.3999...

    StatisticsData d = withRate(2, 1);
    d.eventCount[0] = 500; // other events do not enter the rate
    EXPECT_EQ(acceptanceRateText(d), "66.66 %");
    // Sixteen full counters exceed 16 bits: 16/17 of the bills passed.
    d.billsAccepted.fill(65535);
    d.eventCount[1] = 65535;
    EXPECT_EQ(totalAccepted(d), 16u * 65535u);
    EXPECT_EQ(acceptanceRateText(d), "94.11 %");
}

TEST(StatisticsPage, HalvesShowTheirRowsWithTwoDigitEventsSixPixelsLeft) {
    StatisticsData d;
    for (int t = 0; t < 16; ++t)
        d.billsAccepted[t] = static_cast<std::uint16_t>(100 + t);
    for (int i = 0; i < 20; ++i)
        d.eventCount[i] = static_cast<std::uint16_t>(1000 + i);

    RecordingSurface first, second;
    drawStatisticsPage(first, d, true, true);
    drawStatisticsPage(second, d, false, false);

    EXPECT_EQ(textAt(first, 40, 224), "00");
    EXPECT_EQ(textAt(first, 75, 322), "107");
    EXPECT_EQ(textAt(first, 155, 224), "1");
    EXPECT_EQ(textAt(first, 155, 336), "9");
    EXPECT_EQ(textAt(first, 185, 224), "1000");
    EXPECT_EQ(textAt(first, 235, 224), "Return Before Evaluation     ");

    EXPECT_EQ(textAt(second, 40, 224), "08");
    EXPECT_EQ(textAt(second, 75, 322), "115");
    EXPECT_EQ(textAt(second, 149, 224), "10");
    EXPECT_EQ(textAt(second, 149, 336), "18");
    EXPECT_EQ(textAt(second, 185, 336), "1017");
    EXPECT_FALSE(second.hasText("1018")); // events 19 and 20 are never shown

    // Total and rate count all 16 bill types whichever half is shown.
    EXPECT_EQ(textAt(first, 75, 342), "1720");
    EXPECT_EQ(textAt(second, 470, 342), "63.21 %");

    const auto* number = first.textAt(40, 224);
    EXPECT_EQ(number->colour, colours::GREY);
    EXPECT_EQ(first.textAt(75, 224)->colour, colours::CYAN);
    EXPECT_EQ(first.textAt(235, 224)->colour, colours::MID_GREY);
    for (const auto& t : first.texts)
        EXPECT_EQ(t.background, colours::BLACK) << t.text;
}

TEST(StatisticsPage, GridHasThreeColumnsHeadingRowAndTotalRules) {
    RecordingSurface s;
    drawStatisticsPage(s, StatisticsData{}, true, true);
    EXPECT_EQ(textAt(s, 470, 342), "0.00 %");
    ASSERT_EQ(s.lines.size(), 9u);
    for (const auto& l : s.lines)
        EXPECT_TRUE(l.colour == colours::TEAL && l.width == 1);
    for (int x : {30, 128, 440, 528})
        EXPECT_TRUE(s.hasLine(x, 198, x, 361)) << x;
    for (int y : {198, 218, 361})
        EXPECT_TRUE(s.hasLine(30, y, 528, y)) << y;
    EXPECT_TRUE(s.hasLine(30, 340, 128, 340));
    EXPECT_TRUE(s.hasLine(445, 340, 528, 340));
}
