// SPDX-License-Identifier: GPL-3.0-or-later
// The charts' series, the comparison of two visits and the CSV export, checked as numbers and
// text.

#include "HistoryFixture.h"

#include "history/Trends.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    EXPECT_EQ(gains.notation, Notation::Hex) << "as the Sensors page writes them";
    EXPECT_EQ(pointText(gains, gains.series[0], 1),
              "Sidelook, visit of " + visits[1].localTime + ": " +
                  displayValue(valueInfo("sidelook_gain"), visits[1].values.at("sidelook_gain")) + " (hex)");
    // Each point knows its visit, also where a visit gave none.
    EXPECT_EQ(rate.series[0].visit, (std::vector<std::size_t>{0, 2}));
    EXPECT_EQ(pointText(rate, rate.series[0], 0),
              "Acceptance rate, visit of " + visits[0].localTime + ": 100 %");

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
    ASSERT_EQ(lines.size(), 4u);
    // The names programs read stay as they were; the captions follow on a line of their own.
    EXPECT_EQ(lines[0].rfind("time,serial,program_revision,bills_accepted,acceptance_rate,event_01,", 0), 0u);
    EXPECT_NE(lines[0].find(",sidelook_gain,"), std::string::npos);
    EXPECT_NE(lines[0].find(",trans_white_ch3_red,"), std::string::npos);
    EXPECT_EQ(
        lines[1].rfind("Time,Serial number,Program revision,\"Accepted bills, total\",Acceptance rate (%),"
                       "Event 1: Return Before Evaluation,",
                       0),
        0u)
        << lines[1];
    EXPECT_NE(lines[1].find(",Sidelook gain (decimal),Sidelook target,Sidelook reading,Sidelook status,"),
              std::string::npos);
    EXPECT_NE(lines[1].find(",\"Transm. white levels, Chan 3, red\","), std::string::npos);
    lines.erase(lines.begin() + 1);
    // A line's cells, quotes kept.
    const auto cells = [](const std::string& line) {
        std::vector<std::string> out{""};
        bool quoted = false;
        for (char c : line) {
            if (c == '"') quoted = !quoted;
            if (c == ',' && !quoted)
                out.emplace_back();
            else
                out.back() += c;
        }
        return out;
    };
    const auto columns = [&](const std::string& line) { return cells(line).size(); };
    EXPECT_EQ(columns(lines[1]), columns(lines[0]));
    EXPECT_EQ(columns(lines[2]), columns(lines[0]));
    EXPECT_EQ(lines[1].rfind("1970-01-01 00:00:00,\"U,3\",MODEL-1,101,99.02,", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("1970-01-02 00:00:00,\"U,3\",MODEL-2,102,98.08,", 0), 0u) << lines[2];
    EXPECT_EQ(lines[2].find_first_not_of(',', lines[2].find("98.08,") + 5), std::string::npos)
        << "a visit that read only statistics has empty cells after them: " << lines[2];
    // Sensor states in the Sensors page's words; gains as numbers a spreadsheet computes with.
    const std::vector<std::string> names = cells(lines[0]), first = cells(lines[1]);
    const auto cellOf = [&](const std::string& name) {
        return first.at(
            static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin()));
    };
    const double status = visits[0].values.at("front_left_status");
    EXPECT_EQ(cellOf("front_left_status"), status == 0 ? "closed" : "open");
    EXPECT_EQ(cellOf("sidelook_gain"), valueText(visits[0].values.at("sidelook_gain")));
}

TEST(ValueInfo, EveryValueHasACaptionInThePagesWordsAndIsWrittenAsItsPageWritesIt) {
    const struct {
        const char* name;
        double value;
        const char* caption;
        const char* shown;
    } cases[] = {
        {"acceptance_rate", 99.0196, "Acceptance rate", "99.02 %"},
        {"bills_accepted", 101, "Accepted bills, total", "101"},
        {"event_02", 9, "Event 2: Did Not Pass Optical Test", "9"},
        {"event_16", 1, "Event 16: Did Not Pass Security Test", "1"},
        {"sidelook_gain", 0x1F4, "Sidelook gain (hex)", "01F4"},
        {"chan_open_reading", 57, "Chan. Open reading", "57"},
        {"front_right_status", 0, "Front right status", "closed"},
        {"rear_exit_status", 5, "Rear exit status", "open"},
        {"temperature_current", 31, "Temperature, current", "31"},
        {"temperature_at_vla", 28, "Temperature, at vla", "28"},
        {"trans_white_red", 180.4, "Transm. white levels, red (mean of channels)", "180.40"},
        {"refl_gain_infrared", 26, "Refl. gains, infrared (mean of channels)", "26"},
        {"trans_gain_ch3_blue", 0x2A, "Transm. gains (hex), Chan 3, blue", "02A"},
        {"refl_emitter_ch0_green", 77, "Refl. emitters, Chan 0, green", "77"},
        {"video_trans_green", 88.5, "Video test, transmissive, green (mean of channels)", "88.50"},
        {"video_refl_ch2_infrared", 240, "Video test, reflective, ch 2, infrared", "240"},
    };
    for (const auto& c : cases) {
        const ValueInfo info = valueInfo(c.name);
        EXPECT_EQ(info.caption, c.caption) << c.name;
        EXPECT_EQ(displayValue(info, c.value), c.shown) << c.name;
    }
    // Only the direction of the acceptance rate is known: higher is better.
    EXPECT_EQ(valueInfo("acceptance_rate").better, Better::Higher);
    EXPECT_EQ(valueInfo("event_02").better, Better::Unknown);
    // No name of the database is left without words.
    for (const std::string& name : valueNames())
        EXPECT_EQ(valueInfo(name).caption.find('_'), std::string::npos) << name;
}

TEST(VisitAxis, TimeOfDayWhenTheVisitsShareADayElseDatesAndNoLabelTwice) {
    const VisitAxis repair = visitAxis({"2026-12-03 10:15:00", "2026-12-03 10:21:30"}, 6);
    EXPECT_EQ(repair.title, "Visits on 2026-12-03, time of day");
    EXPECT_EQ(repair.labels, (std::vector<std::pair<std::size_t, std::string>>{{0, "10:15"}, {1, "10:21"}}));

    const VisitAxis months = visitAxis({"2026-01-05 09:00:00", "2026-03-01 12:00:00", "2026-03-01 12:06:00",
                                        "2026-06-30 16:00:00", "2026-12-03 10:15:00"},
                                       3);
    EXPECT_EQ(months.title, "Visits, oldest left, date");
    EXPECT_EQ(months.labels, (std::vector<std::pair<std::size_t, std::string>>{
                                 {0, "2026-01-05"}, {2, "2026-03-01"}, {4, "2026-12-03"}}));

    // Thousands of visits: no more labels than asked for, first and last among them.
    std::vector<std::string> many;
    for (int i = 0; i < 3000; ++i)
        many.push_back("20" + std::to_string(10 + i / 365) + "-01-01 00:00:00");
    const VisitAxis dense = visitAxis(many, 7);
    EXPECT_LE(dense.labels.size(), 7u);
    EXPECT_EQ(dense.labels.front().first, 0u);
    EXPECT_EQ(dense.labels.back().first, 2999u);
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
        const std::string line = csv.substr(csv.find("\r\n", csv.find("\r\n") + 2) + 2); // after both headers
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
