// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the history window plots and compares, computed as numbers: one series per quantity
// across a unit's visits, and the differences between two visits.

#include "history/HistoryStore.h"

#include <optional>
#include <string>
#include <vector>

namespace norvex::history {

// How the pages write a value: decimal, hexadecimal (the gains), or a sensor's state as the
// Sensors page names it ("open", "closed").
enum class Notation { Decimal, Hex, SensorState };

// Which way a value is better, where that is known (acceptance rate: higher).
enum class Better { Unknown, Higher, Lower };

// A decoded value in the pages' words.
struct ValueInfo {
    std::string caption; // "Acceptance rate", "Event 2: Did Not Pass Optical Test", "Sidelook gain (hex)"
    std::string unit;    // "%" where the page has one
    Notation notation = Notation::Decimal;
    int hexDigits = 0; // for Notation::Hex: as many as the page shows
    Better better = Better::Unknown;
};
// Every name of valueNames() has one; an unknown name is its own caption.
ValueInfo valueInfo(const std::string& name);
// A value written as its page writes it ("01F4", "closed", "99.02 %").
std::string displayValue(const ValueInfo& info, double value);

struct Series {
    std::string name;
    std::vector<double> x; // visit time, seconds since 1970
    std::vector<double> y;
    std::vector<std::size_t> visit; // the visit of each point: its index in the chart's visits
};

struct Chart {
    std::string title;
    std::string unit;      // the value axis' title, with its unit: "Acceptance rate (%)"
    std::string valueUnit; // after a value in words: "%"
    Notation notation = Notation::Decimal;
    int hexDigits = 0;
    std::vector<std::string> visits; // the local time of every visit, oldest first
    std::vector<Series> series;
    std::string emptyText; // shown in its place when no series has a point
};

// A point of a chart in words, for hovering over it: the series, the visit and its value as
// the page writes it ("Sidelook, visit of 2026-12-03 10:15:00: 01F4").
std::string pointText(const Chart& chart, const Series& series, std::size_t point);

// The visit axis: one place per visit, oldest left, so that every visit has its own point even
// when two are minutes apart; labelled with the time of day when all visits fall on one day,
// else with the date. At most `maxLabels` labels, spread over the visits, none twice.
struct VisitAxis {
    std::string title;
    std::vector<std::pair<std::size_t, std::string>> labels; // visit index, text
};
VisitAxis visitAxis(const std::vector<std::string>& localTimes, std::size_t maxLabels);

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

// A difference in words for the Compare page: "+6", "+0010 (hex)", "closed → open", "not
// read", "new"; better or worse only where the value's direction is known. A sensor whose
// state reads the same on the page has not changed.
struct ChangeWords {
    std::string text;
    bool changed = false;
    int verdict = 0; // +1 better, -1 worse, 0 not known or not changed
};
ChangeWords changeWords(const Difference& difference);

// One unit's history as CSV: a header line of names for programs, which stay as they are (time,
// serial, program_revision, bills_accepted, acceptance_rate, then every other value by name);
// a line of the same columns' captions in the pages' words; then one row per visit (empty
// where a visit did not read the value; sensor states in words, other values as numbers).
// Lines end with CR LF, fields with a comma or quote are quoted, text a spreadsheet would run
// as a formula is made inert.
std::string historyCsv(const std::string& serial, const std::vector<VisitSummary>& visits);
// Its parts: the value columns after time, serial and program revision, the two header lines,
// and one visit's line with values[i] for csvValueNames()[i].
const std::vector<std::string>& csvValueNames();
std::string csvHeader();
void appendCsvLine(std::string& out, const std::string& localTime, const std::string& serial,
                   const std::string& program, const std::vector<std::optional<double>>& values);

// A value as the CSV and the window print it: whole numbers without decimals, others with two.
std::string valueText(double value);

} // namespace norvex::history
