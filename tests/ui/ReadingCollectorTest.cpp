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
