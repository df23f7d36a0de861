#include "history/Trends.h"

#include "control/CsvText.h"
#include "diagnostics/SensorsData.h"
#include "diagnostics/StatisticsData.h"

#include <charconv>
#include <cmath>
#include <map>

namespace norvex::history {

namespace {

const char* const COLOUR_LABEL[4] = {"red", "green", "blue", "infrared"};
const char* const COLOUR_KEY[4] = {"red", "green", "blue", "infrared"};
const char* const SENSOR_KEY[5] = {"sidelook", "chan_open", "front_right", "front_left", "rear_exit"};
constexpr int USED_EVENTS[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 15, 16, 18};

std::string eventKey(int e) {
    return std::string("event_") + (e < 10 ? "0" : "") + std::to_string(e);
}

std::string trimmed(std::string_view s) {
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return std::string(s);
}

Series seriesOf(const std::vector<VisitSummary>& visits, const std::string& key, std::string name) {
    Series s;
    s.name = std::move(name);
    for (const VisitSummary& v : visits) {
        const auto it = v.values.find(key);
        if (it == v.values.end()) continue;
        s.x.push_back(static_cast<double>(v.takenAt));
        s.y.push_back(it->second);
    }
    return s;
}

} // namespace

const std::vector<std::string>& trendValueNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n{"acceptance_rate"};
        for (int e : USED_EVENTS)
            n.push_back(eventKey(e));
        for (const char* s : SENSOR_KEY)
            n.push_back(std::string(s) + "_gain");
        for (const char* c : COLOUR_KEY) {
            n.push_back(std::string("trans_white_") + c);
            n.push_back(std::string("refl_white_") + c);
            n.push_back(std::string("video_trans_") + c);
            n.push_back(std::string("video_refl_") + c);
        }
        return n;
    }();
    return names;
}

std::vector<Chart> trendCharts(const std::vector<VisitSummary>& visits) {
    std::vector<Chart> charts;
    charts.push_back({"Acceptance rate", "%", {seriesOf(visits, "acceptance_rate", "acceptance rate")}});

    Chart events{"Rejections and faults (event counts)", "count", {}};
    for (int e : USED_EVENTS) {
        Series s = seriesOf(visits, eventKey(e),
                            std::to_string(e) + " " + trimmed(diagnostics::EVENT_DESCRIPTION[e - 1]));
        bool occurred = false;
        for (double y : s.y)
            occurred = occurred || y != 0;
        if (occurred) events.series.push_back(std::move(s));
    }
    charts.push_back(std::move(events));

    Chart gains{"Sensor gains", "gain", {}};
    for (int i = 0; i < 5; ++i)
        gains.series.push_back(
            seriesOf(visits, std::string(SENSOR_KEY[i]) + "_gain", std::string(diagnostics::SENSOR_NAME[i])));
    charts.push_back(std::move(gains));

    Chart transWhite{"Optics white levels, transmissive (mean of channels)", "level", {}};
    Chart reflWhite{"Optics white levels, reflective (mean of channels)", "level", {}};
    Chart videoTrans{"Video test averages, transmissive (mean of channels)", "level", {}};
    Chart videoRefl{"Video test averages, reflective (mean of channels)", "level", {}};
    for (int c = 0; c < 4; ++c) {
        transWhite.series.push_back(
            seriesOf(visits, std::string("trans_white_") + COLOUR_KEY[c], COLOUR_LABEL[c]));
        reflWhite.series.push_back(
            seriesOf(visits, std::string("refl_white_") + COLOUR_KEY[c], COLOUR_LABEL[c]));
        videoTrans.series.push_back(
            seriesOf(visits, std::string("video_trans_") + COLOUR_KEY[c], COLOUR_LABEL[c]));
        videoRefl.series.push_back(
            seriesOf(visits, std::string("video_refl_") + COLOUR_KEY[c], COLOUR_LABEL[c]));
    }
    charts.push_back(std::move(transWhite));
    charts.push_back(std::move(reflWhite));
    charts.push_back(std::move(videoTrans));
    charts.push_back(std::move(videoRefl));
    return charts;
}

std::string valueText(double value) {
    char buf[64];
    std::to_chars_result r;
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < 1e15)
        r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(value));
    else
        r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    return std::string(buf, r.ptr);
}

std::vector<Difference> compareReadings(const Reading& before, const Reading& after) {
    std::map<std::string, double> a, b;
    for (const auto& [name, v] : decodedValues(before))
        a[name] = v;
    for (const auto& [name, v] : decodedValues(after))
        b[name] = v;
    std::vector<Difference> out;
    for (const std::string& name : valueNames()) {
        Difference d;
        d.name = name;
        if (auto it = a.find(name); it != a.end()) d.before = it->second;
        if (auto it = b.find(name); it != b.end()) d.after = it->second;
        if (!d.before && !d.after) continue;
        d.changed = d.before != d.after;
        out.push_back(std::move(d));
    }
    return out;
}

const std::vector<std::string>& csvValueNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> n{"bills_accepted", "acceptance_rate"};
        for (const std::string& name : valueNames())
            if (name != "bills_accepted" && name != "acceptance_rate") n.push_back(name);
        return n;
    }();
    return names;
}

std::string csvHeader() {
    std::string out = "time,serial,program_revision";
    for (const std::string& n : csvValueNames()) {
        out += ',';
        out += n;
    }
    return out + "\r\n";
}

void appendCsvLine(std::string& out, const std::string& localTime, const std::string& serial,
                   const std::string& program, const std::vector<std::optional<double>>& values) {
    // The serial number and the program revision come from the validator: made inert where a
    // spreadsheet would run them. The values are numbers this program wrote.
    out += control::csvText(localTime);
    out += ',';
    out += control::csvText(serial);
    out += ',';
    out += control::csvText(program);
    for (const std::optional<double>& v : values) {
        out += ',';
        if (v) out += valueText(*v);
    }
    out += "\r\n";
}

std::string historyCsv(const std::string& serial, const std::vector<VisitSummary>& visits) {
    std::string out = csvHeader();
    std::vector<std::optional<double>> values(csvValueNames().size());
    for (const VisitSummary& v : visits) {
        for (std::size_t i = 0; i < values.size(); ++i) {
            const auto it = v.values.find(csvValueNames()[i]);
            values[i] = it == v.values.end() ? std::nullopt : std::optional<double>(it->second);
        }
        appendCsvLine(out, v.localTime, serial, v.program, values);
    }
    return out;
}

} // namespace norvex::history
