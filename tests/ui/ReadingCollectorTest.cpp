// SPDX-License-Identifier: GPL-3.0-or-later
// What the window keeps of a visit for the service history: the records as they arrived, the
// unit's serial number, and statistics that were erased.

#include "ui/core/ReadingCollector.h"

#include "diagnostics/StatisticsData.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace norvex;
using norvex::ui::ReadingCollector;
using Record = ReadingCollector::Record;

namespace {

std::vector<std::uint8_t> identWith(const char* serial) {
    std::vector<std::uint8_t> ident(29, ' ');
    std::memcpy(ident.data(), "VNT", 3);
    std::memcpy(ident.data() + 3, serial, std::strlen(serial));
    std::memcpy(ident.data() + 15, "BV2.14-7", 8);
    return ident;
}

TEST(ReadingCollector, KeysTheUnitByItsReportedSerialElseTheTypedOne) {
    ReadingCollector c;
    std::tm t{};
    auto r = c.take(0, "SN42", {}, {}, t, 5);
    EXPECT_EQ(r.serial, "SN42") << "nothing identified: the serial typed";
    const auto ident = identWith("TVK202604171");
    c.received(Record::Ident, ident.data(), ident.size());
    r = c.take(history::PART_STATISTICS, "SN42", {}, {}, t, 5);
    EXPECT_EQ(r.serial, "TVK202604171");
    EXPECT_EQ(r.reportSerial, "SN42");
    EXPECT_EQ(r.maker, "VNT");
    EXPECT_EQ(r.programText, "BV2.14-7");
    EXPECT_EQ(r.ident, ident);
    EXPECT_FALSE(r.id.empty());
    EXPECT_NE(r.id, c.take(0, "", {}, {}, t, 5).id) << "every reading has an id of its own";
}

TEST(ReadingCollector, TheUnitIsTheSerialAsItCameTrimmedAndNeverMergedWithAnother) {
    struct Case {
        std::string identSerial; // the identification's bytes 3-14
        std::string typed;
        std::string unit;
    };
    const std::vector<Case> cases = {
        {"  TVK0001   ", "", "TVK0001"},                   // blanks at both ends
        {std::string(12, '\0'), "SN42", "SN42"},           // twelve NULs: the typed serial
        {std::string(12, ' '), " SN42 ", "SN42"},          // twelve blanks: the typed one, trimmed
        {std::string(12, ' '), "", history::UNKNOWN_UNIT}, // neither
        {std::string("AB\x01"
                     "CD",
                     5),
         "", "AB\\x01CD"}, // unprintable bytes as they came
        {std::string("AB\x02"
                     "CD",
                     5),
         "", "AB\\x02CD"},                         // ... so these two stay two units
        {"AB?CD", "", "AB?CD"},                    // and neither is taken for this one
        {"AB\\x01CD", "", "AB\\\\x01CD"},          // a backslash typed by the maker
        {std::string("\xFFZ\0", 3), "", "\\xFFZ"}, // high bytes too; NULs trimmed
    };
    for (const Case& c : cases) {
        ReadingCollector collector;
        auto ident = identWith("");
        std::copy(c.identSerial.begin(), c.identSerial.end(), ident.begin() + 3);
        collector.received(Record::Ident, ident.data(), ident.size());
        std::tm t{};
        EXPECT_EQ(collector.take(0, c.typed, {}, {}, t, 1).serial, c.unit) << c.unit;
    }
}

TEST(ReadingCollector, KeepsTheLatestRecordOfEachKindAndForgetsErasedStatistics) {
    ReadingCollector c;
    EXPECT_FALSE(c.unsaved());
    const auto setup = std::vector<std::uint8_t>(27, 1);
    c.received(Record::Setup, setup.data(), setup.size());
    EXPECT_FALSE(c.unsaved()) << "setup and identification alone are no diagnostics reading";

    std::vector<std::uint8_t> stats(diagnostics::STATISTICS_DATA_BYTES, 0);
    stats[0] = 9;
    c.received(Record::Statistics, stats.data(), stats.size());
    stats[0] = 7;
    c.received(Record::Statistics, stats.data(), stats.size());
    EXPECT_TRUE(c.unsaved());
    std::tm t{};
    auto r = c.take(history::PART_STATISTICS, "X", {}, {}, t, 1);
    EXPECT_FALSE(c.unsaved());
    ASSERT_EQ(r.statistics.size(), diagnostics::STATISTICS_DATA_BYTES);
    EXPECT_EQ(r.statistics[0], 7);
    EXPECT_EQ(r.setup, setup);

    // After "Clear Stats" the report prints zeros: so does the one made again.
    c.statisticsCleared();
    r = c.take(history::PART_STATISTICS, "X", {}, {}, t, 1);
    EXPECT_TRUE(r.statistics.empty());
    EXPECT_NE(history::recreateReport(r).find(" Total     : 0\r\n"), std::string::npos);
}

} // namespace
