// The charts' series, the comparison of two visits and the CSV export, checked as numbers and
// text.

#include "HistoryFixture.h"

#include "history/Trends.h"

#include <gtest/gtest.h>

#include <map>

using namespace norvex::history;
using namespace norvex::history::testing;

namespace {

VisitSummary visitOf(const Reading& r) {
    VisitSummary v;
    v.id = r.id;
    v.takenAt = r.takenAt;
    v.localTime = localTimeText(r.localTime);
    v.program = r.programText;
    v.parts = r.parts;
    for (const auto& [name, value] : decodedValues(r))
        v.values[name] = value;
    return v;
}

const Chart& chartNamed(const std::vector<Chart>& charts, const std::string& prefix) {
    for (const Chart& c : charts)
        if (c.title.rfind(prefix, 0) == 0) return c;
    throw std::runtime_error("no chart " + prefix);
}

TEST(TrendCharts, FollowTheVisitsInOrderWithAPointPerReadRecord) {
    std::vector<VisitSummary> visits{visitOf(knownReading("U1", 1000, 0)),
                                     visitOf(knownReading("U1", 2000, 4, PART_SENSORS)),
                                     visitOf(knownReading("U1", 3000, 9))};
    // The second visit read only the sensors.
    visits[1].values.erase("acceptance_rate");
    for (auto it = visits[1].values.begin(); it != visits[1].values.end();)
        it = it->first.find("gain") == std::string::npos ? visits[1].values.erase(it) : std::next(it);

    const auto charts = trendCharts(visits);
    ASSERT_EQ(charts.size(), 7u);

    const Chart& rate = chartNamed(charts, "Acceptance rate");
    ASSERT_EQ(rate.series.size(), 1u);
    EXPECT_EQ(rate.series[0].x, (std::vector<double>{1000, 3000}));
    ASSERT_EQ(rate.series[0].y.size(), 2u);
    EXPECT_DOUBLE_EQ(rate.series[0].y[0], 100.0);                   // 100 accepted, no optical rejection
    EXPECT_DOUBLE_EQ(rate.series[0].y[1], 100.0 * 109 / (109 + 9)); // 109 accepted, 9 rejected

    // Only the events that happened at some visit are plotted: event 2 (seed > 0) and 15 (seed % 5).
    const Chart& events = chartNamed(charts, "Rejections");
    ASSERT_EQ(events.series.size(), 2u);
    EXPECT_EQ(events.series[0].name, "2 Did Not Pass Optical Test");
    EXPECT_EQ(events.series[0].y, (std::vector<double>{0, 9}));
    EXPECT_EQ(events.series[1].name, "15 Bill Stacking Failed");
    EXPECT_EQ(events.series[1].y, (std::vector<double>{0, 4}));

    // Sensor gains: a point for every visit, the second included; in the page's sensor order.
    const Chart& gains = chartNamed(charts, "Sensor gains");
    ASSERT_EQ(gains.series.size(), 5u);
    EXPECT_EQ(gains.series[0].name, "Sidelook");
    EXPECT_EQ(gains.series[4].name, "Rear exit");
    for (const Series& s : gains.series)
        EXPECT_EQ(s.x, (std::vector<double>{1000, 2000, 3000})) << s.name;
    EXPECT_DOUBLE_EQ(gains.series[0].y[1], visits[1].values.at("sidelook_gain"));

    // Optics and video: one series per colour, the mean over the channels the page shows.
    const Chart& white = chartNamed(charts, "Optics white levels, transmissive");
    ASSERT_EQ(white.series.size(), 4u);
    EXPECT_EQ(white.series[3].name, "infrared");
    const Reading third = knownReading("U1", 3000, 9);
    norvex::diagnostics::OpticsData optics;
    norvex::diagnostics::decodeOptics(third.optics.data(), optics);
    double sum = 0;
    for (int ch : {3, 1, 0, 2, 4})
        sum += optics.transWhite[ch][3];
    EXPECT_DOUBLE_EQ(white.series[3].y.back(), sum / 5);
    const Chart& video = chartNamed(charts, "Video test averages, reflective");
    norvex::diagnostics::VideoTestData v;
    norvex::diagnostics::decodeVideoTest(third.video.data(), v);
    EXPECT_DOUBLE_EQ(video.series[1].y.back(),
                     (v.videoRefl[1][1][0] + v.videoRefl[0][1][0] + v.videoRefl[2][1][0]) / 3.0);
}

TEST(CompareReadings, ShowsEveryValueSideBySideAndMarksWhatChanged) {
    const Reading before = knownReading("U2", 1000, 2);
    Reading after = before;
    after.statistics[34] = 50; // more optical rejections
    after.sensors.clear();     // sensors not read at the second visit
    const auto diff = compareReadings(before, after);
    std::map<std::string, Difference> byName;
    for (const auto& d : diff)
        byName[d.name] = d;
    EXPECT_TRUE(byName.at("event_02").changed);
    EXPECT_EQ(*byName.at("event_02").before, 2);
    EXPECT_EQ(*byName.at("event_02").after, 50);
    EXPECT_TRUE(byName.at("acceptance_rate").changed);
    EXPECT_FALSE(byName.at("bills_accepted").changed);
    EXPECT_FALSE(byName.at("trans_gain_ch3_red").changed);
    EXPECT_TRUE(byName.at("sidelook_gain").changed);
    EXPECT_FALSE(byName.at("sidelook_gain").after.has_value());
    // In the fixed order of the names.
    EXPECT_EQ(diff.front().name, "bills_accepted");
}

TEST(HistoryCsv, HasAHeaderAndOneRowPerVisitWithEmptyCellsForRecordsNotRead) {
    std::vector<VisitSummary> visits{visitOf(knownReading("U,3", 0, 1)),
                                     visitOf(knownReading("U,3", 86400, 2, PART_STATISTICS))};
    visits[1].values.clear();
    visits[1].values["bills_accepted"] = 102;
    visits[1].values["acceptance_rate"] = 100.0 * 102 / 104;
    const std::string csv = historyCsv("U,3", visits);

    std::vector<std::string> lines;
    for (std::size_t start = 0; start < csv.size();) {
        const auto end = csv.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends with CR LF";
        lines.push_back(csv.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("time,serial,program_revision,bills_accepted,acceptance_rate,event_01,", 0), 0u);
    EXPECT_NE(lines[0].find(",sidelook_gain,"), std::string::npos);
    EXPECT_NE(lines[0].find(",trans_white_ch3_red,"), std::string::npos);
    const auto columns = [](const std::string& line) {
        std::size_t n = 1;
        bool quoted = false;
        for (char c : line) {
            if (c == '"') quoted = !quoted;
            if (c == ',' && !quoted) ++n;
        }
        return n;
    };
    EXPECT_EQ(columns(lines[1]), columns(lines[0]));
    EXPECT_EQ(columns(lines[2]), columns(lines[0]));
    EXPECT_EQ(lines[1].rfind("1970-01-01 00:00:00,\"U,3\",MODEL-1,101,99.02,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("1970-01-02 00:00:00,\"U,3\",MODEL-2,102,98.08,", 0), 0u) << lines[2];
    EXPECT_EQ(lines[2].find_first_not_of(',', lines[2].find("98.08,") + 5), std::string::npos)
        << "a visit that read only statistics has empty cells after them: " << lines[2];
}

TEST(HistoryCsv, TextFromTheValidatorThatASpreadsheetWouldRunIsMadeInert) {
    VisitSummary v = visitOf(knownReading("X", 0, 1));
    v.values = {{"bills_accepted", 5}};
    const std::vector<std::pair<std::string, std::string>> cells = {
        {"=HYPERLINK(\"x\")", "\"'=HYPERLINK(\"\"x\"\")\""},
        {"+1+2", "'+1+2"},
        {"-2+3", "'-2+3"},
        {"@SUM(A1)", "'@SUM(A1)"},
        {"\tTAB", "'\tTAB"},
        {"\rCR", "\"'\rCR\""},
        {"BV2.14-7", "BV2.14-7"}, // a sign inside is nothing
        {"a,b", "\"a,b\""},
    };
    for (const auto& [cell, inert] : cells) {
        v.program = cell;
        const std::string csv = historyCsv(cell, {v});
        const std::string line = csv.substr(csv.find("\r\n") + 2);
        EXPECT_EQ(line.rfind("1970-01-01 00:00:00," + inert + "," + inert + ",5,", 0), 0u) << line;
    }
}

TEST(ValueText, WholeNumbersPlainOthersWithTwoDecimals) {
    EXPECT_EQ(valueText(4660), "4660");
    EXPECT_EQ(valueText(0), "0");
    EXPECT_EQ(valueText(66.666666), "66.67");
    EXPECT_EQ(valueText(12.5), "12.50");
}

} // namespace
