#pragma once
// What the history window plots and compares, computed as numbers: one series per quantity
// across a unit's visits, and the differences between two visits.

#include "history/HistoryStore.h"

#include <optional>
#include <string>
#include <vector>

namespace norvex::history {

struct Series {
    std::string name;
    std::vector<double> x; // visit time, seconds since 1970
    std::vector<double> y;
};

struct Chart {
    std::string title;
    std::string unit; // of the y axis
    std::vector<Series> series;
};

// The decoded values the charts need (unitHistory() loads only these).
const std::vector<std::string>& trendValueNames();

// The charts of a unit, from its visits oldest first: acceptance rate; the event counts that
// occurred at any visit; sensor gains per sensor; white levels per colour (transmissive and
// reflective, averaged over the channels shown); the video test's averages per colour. A
// visit that did not read a record gives no point in its series.
std::vector<Chart> trendCharts(const std::vector<VisitSummary>& visits);

struct Difference {
    std::string name;
    std::optional<double> before, after;
    bool changed = false;
};

// Every decoded value of two readings side by side, in the order of valueNames(), and the
// identification texts; changed where they differ or one side lacks the value.
std::vector<Difference> compareReadings(const Reading& before, const Reading& after);

// One unit's history as CSV: a header line, then one row per visit (time, serial, program
// revision, bills accepted, acceptance rate, then every other value by name; empty where a
// visit did not read it). Lines end with CR LF, fields with a comma or quote are quoted, text
// a spreadsheet would run as a formula is made inert.
std::string historyCsv(const std::string& serial, const std::vector<VisitSummary>& visits);
// Its parts: the value columns after time, serial and program revision, the header line, and
// one visit's line with values[i] for csvValueNames()[i].
const std::vector<std::string>& csvValueNames();
std::string csvHeader();
void appendCsvLine(std::string& out, const std::string& localTime, const std::string& serial,
                   const std::string& program, const std::vector<std::optional<double>>& values);

// A value as the CSV and the window print it: whole numbers without decimals, others with two.
std::string valueText(double value);

} // namespace norvex::history
