// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Trends.h"

#include "control/CsvText.h"
#include "diagnostics/SensorsData.h"
#include "diagnostics/StatisticsData.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

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
    for (std::size_t i = 0; i < visits.size(); ++i) {
        const auto it = visits[i].values.find(key);
        if (it == visits[i].values.end()) continue;
        s.x.push_back(static_cast<double>(visits[i].takenAt));
        s.y.push_back(it->second);
        s.visit.push_back(i);
    }
    return s;
}

bool startsWith(const std::string& s, std::string_view prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// The table, channel and colour in what follows "trans_", "refl_" or "video_trans_": "white_ch3_red"
// gives table "white", channel 3, colour "red"; "ch3_red" channel 3 and "red" the colour alone.
struct OpticName {
    std::string table;
    int channel = -1; // -1: the mean of the channels
    std::string colour;
};
bool parseOptic(std::string_view rest, OpticName& out) {
    const std::size_t colourAt = rest.rfind('_');
    out.colour = std::string(colourAt == std::string_view::npos ? rest : rest.substr(colourAt + 1));
    rest = colourAt == std::string_view::npos ? std::string_view() : rest.substr(0, colourAt);
    if (out.colour.empty()) return false;
    if (const std::size_t ch = rest.rfind("_ch"); ch != std::string_view::npos) {
        out.channel = std::atoi(std::string(rest.substr(ch + 3)).c_str());
        rest = rest.substr(0, ch);
    } else if (rest.rfind("ch", 0) == 0) {
        out.channel = std::atoi(std::string(rest.substr(2)).c_str());
        rest = {};
    }
    out.table = std::string(rest);
    return true;
}

const char* opticTable(const std::string& table) {
    if (table == "white") return "white levels";
    if (table == "black") return "black levels";
    if (table == "gain") return "gains";
    if (table == "emitter") return "emitters";
    return nullptr;
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
    std::vector<std::string> times;
    for (const VisitSummary& v : visits)
        times.push_back(v.localTime);
    auto chart = [&](std::string title, std::string axis, std::string empty) {
        Chart c;
        c.title = std::move(title);
        c.unit = std::move(axis);
        c.emptyText = std::move(empty);
        c.visits = times;
        return c;
    };
    const char* const notRead = "No visit read this record";
    std::vector<Chart> charts;
    Chart rate = chart("Acceptance rate", "Acceptance rate (%)", "No visit read the statistics");
    rate.valueUnit = "%";
    rate.series.push_back(seriesOf(visits, "acceptance_rate", "Acceptance rate"));
    charts.push_back(std::move(rate));

    // Named as the Statistics page names the events.
    Chart events = chart("Rejections and faults (event counts)", "Events counted",
                         "No rejection or fault was counted at any visit");
    for (int e : USED_EVENTS) {
        Series s = seriesOf(visits, eventKey(e),
                            std::to_string(e) + " " + trimmed(diagnostics::EVENT_DESCRIPTION[e - 1]));
        bool occurred = false;
        for (double y : s.y)
            occurred = occurred || y != 0;
        if (occurred) events.series.push_back(std::move(s));
    }
    charts.push_back(std::move(events));

    // In hexadecimal, as the Sensors page writes them.
    Chart gains = chart("Sensor gains (hex)", "Gain (hex)", notRead);
    gains.notation = Notation::Hex;
    gains.hexDigits = 4;
    for (int i = 0; i < 5; ++i)
        gains.series.push_back(
            seriesOf(visits, std::string(SENSOR_KEY[i]) + "_gain", std::string(diagnostics::SENSOR_NAME[i])));
    charts.push_back(std::move(gains));

    Chart transWhite = chart("Optics white levels, transmissive (mean of channels)", "White level", notRead);
    Chart reflWhite = chart("Optics white levels, reflective (mean of channels)", "White level", notRead);
    Chart videoTrans = chart("Video test averages, transmissive (mean of channels)", "Video level", notRead);
    Chart videoRefl = chart("Video test averages, reflective (mean of channels)", "Video level", notRead);
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

namespace {

ValueInfo unknownValue(const std::string& name) {
    ValueInfo info;
    info.caption = name;
    return info;
}

} // namespace

ValueInfo valueInfo(const std::string& name) {
    ValueInfo info;
    if (name == "bills_accepted") {
        info.caption = "Accepted bills, total";
    } else if (name == "acceptance_rate") {
        info.caption = "Acceptance rate";
        info.unit = "%";
        info.better = Better::Higher;
    } else if (startsWith(name, "event_")) {
        const int e = std::atoi(name.c_str() + 6);
        info.caption = "Event " + std::to_string(e);
        if (e >= 1 && e <= static_cast<int>(diagnostics::EVENT_DESCRIPTION.size()))
            info.caption += ": " + trimmed(diagnostics::EVENT_DESCRIPTION[static_cast<std::size_t>(e - 1)]);
    } else if (name == "temperature_current") {
        info.caption = "Temperature, current";
    } else if (name == "temperature_at_vla") {
        info.caption = "Temperature, at vla";
    } else if (startsWith(name, "video_")) {
        OpticName o;
        const bool trans = startsWith(name, "video_trans_");
        if (!parseOptic(name.substr(trans ? 12 : 11), o)) return unknownValue(name);
        info.caption = std::string("Video test, ") + (trans ? "transmissive" : "reflective") + ", " +
                       (o.channel < 0 ? o.colour + " (mean of channels)"
                                      : "ch " + std::to_string(o.channel) + ", " + o.colour);
    } else if (startsWith(name, "trans_") || startsWith(name, "refl_")) {
        OpticName o;
        const bool trans = startsWith(name, "trans_");
        if (!parseOptic(name.substr(trans ? 6 : 5), o) || !opticTable(o.table)) return unknownValue(name);
        info.caption = std::string(trans ? "Transm. " : "Refl. ") + opticTable(o.table);
        if (o.channel < 0) {
            info.caption += ", " + o.colour + " (mean of channels)";
        } else {
            // The Main Optics page writes each channel's gain in hexadecimal.
            if (o.table == "gain") {
                info.caption += " (hex)";
                info.notation = Notation::Hex;
                info.hexDigits = 3;
            }
            info.caption += ", Chan " + std::to_string(o.channel) + ", " + o.colour;
        }
    } else {
        for (int i = 0; i < 5; ++i) {
            const std::string slug = SENSOR_KEY[i];
            if (!startsWith(name, slug + "_")) continue;
            const std::string field = name.substr(slug.size() + 1);
            const std::string sensor(diagnostics::SENSOR_NAME[static_cast<std::size_t>(i)]);
            if (field == "gain") {
                info.caption = sensor + " gain (hex)";
                info.notation = Notation::Hex;
                info.hexDigits = 4;
            } else if (field == "status") {
                info.caption = sensor + " status";
                info.notation = Notation::SensorState;
            } else {
                info.caption = sensor + " " + field;
            }
            return info;
        }
        info.caption = name;
    }
    return info;
}

std::string displayValue(const ValueInfo& info, double value) {
    switch (info.notation) {
    case Notation::SensorState:
        // The Sensors page: 0 closed, anything else open.
        return value == 0 ? "closed" : "open";
    case Notation::Hex:
        if (std::isfinite(value) && value >= 0 && value < 1e15) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "%0*llX", info.hexDigits,
                          static_cast<unsigned long long>(std::llround(value)));
            return buf;
        }
        break;
    case Notation::Decimal:
        break;
    }
    return info.unit.empty() ? valueText(value) : valueText(value) + " " + info.unit;
}

std::string pointText(const Chart& chart, const Series& series, std::size_t point) {
    if (point >= series.y.size()) return {};
    ValueInfo info;
    info.notation = chart.notation;
    info.hexDigits = chart.hexDigits;
    info.unit = chart.valueUnit;
    std::string text = series.name;
    if (point < series.visit.size() && series.visit[point] < chart.visits.size())
        text += ", visit of " + chart.visits[series.visit[point]];
    text += ": " + displayValue(info, series.y[point]);
    if (chart.notation == Notation::Hex) text += " (hex)";
    return text;
}

VisitAxis visitAxis(const std::vector<std::string>& localTimes, std::size_t maxLabels) {
    VisitAxis axis;
    if (localTimes.empty()) {
        axis.title = "Visits";
        return axis;
    }
    // "YYYY-MM-DD HH:MM:SS": the day is the first ten characters.
    const std::string day = localTimes.front().substr(0, 10);
    bool oneDay = true;
    for (const std::string& t : localTimes)
        oneDay = oneDay && t.compare(0, 10, day) == 0;
    axis.title = oneDay ? "Visits on " + day + ", time of day" : std::string("Visits, oldest left, date");
    auto text = [&](std::size_t i) {
        const std::string& t = localTimes[i];
        return oneDay ? (t.size() >= 16 ? t.substr(11, 5) : t) : t.substr(0, 10);
    };
    const std::size_t n = localTimes.size();
    const std::size_t k = std::max<std::size_t>(1, std::min(maxLabels, n));
    std::set<std::string> used;
    for (std::size_t j = 0; j < k; ++j) {
        const std::size_t i = k == 1 ? n - 1 : (j * (n - 1) + (k - 1) / 2) / (k - 1);
        std::string label = text(i);
        if (!used.insert(label).second) continue;
        axis.labels.emplace_back(i, std::move(label));
    }
    return axis;
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

ChangeWords changeWords(const Difference& d) {
    ChangeWords w;
    const ValueInfo info = valueInfo(d.name);
    if (!d.before && !d.after) return w;
    if (!d.before || !d.after) {
        w.changed = true;
        w.text = d.before ? "not read" : "new";
        return w;
    }
    const double before = *d.before, after = *d.after;
    if (info.notation == Notation::SensorState) {
        const std::string a = displayValue(info, before), b = displayValue(info, after);
        w.changed = a != b;
        if (w.changed) w.text = a + " \u2192 " + b;
        return w;
    }
    w.changed = before != after;
    if (!w.changed) return w;
    // Rounded to a millionth: the means of the channels differ by 13, not by 12.999999999999986.
    const double delta = std::round((after - before) * 1e6) / 1e6;
    if (info.notation == Notation::Hex) {
        w.text = (delta > 0 ? "+" : "-") + displayValue(info, std::fabs(delta)) + " (hex)";
    } else {
        w.text = (delta > 0 ? "+" : "") + valueText(delta) + (info.unit.empty() ? "" : " " + info.unit);
    }
    if (info.better == Better::Higher) w.verdict = delta > 0 ? 1 : -1;
    if (info.better == Better::Lower) w.verdict = delta < 0 ? 1 : -1;
    if (w.verdict != 0) w.text += w.verdict > 0 ? ", better" : ", worse";
    return w;
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
    out += "\r\n";
    // The same columns in the pages' words. The cells are numbers a spreadsheet can compute
    // with, so the gains the pages write in hexadecimal are decimal here, and say so.
    out += "Time,Serial number,Program revision";
    for (const std::string& n : csvValueNames()) {
        ValueInfo info = valueInfo(n);
        if (info.notation == Notation::Hex) {
            const std::size_t at = info.caption.find(" (hex)");
            if (at != std::string::npos) info.caption.erase(at, 6);
            info.caption += " (decimal)";
        }
        if (!info.unit.empty()) info.caption += " (" + info.unit + ")";
        out += ',';
        out += control::csvText(info.caption);
    }
    return out + "\r\n";
}

void appendCsvLine(std::string& out, const std::string& localTime, const std::string& serial,
                   const std::string& program, const std::vector<std::optional<double>>& values) {
    // The serial number and the program revision come from the validator: made inert where a
    // spreadsheet would run them. The values are numbers this program wrote, sensor states in
    // the Sensors page's words.
    out += control::csvText(localTime);
    out += ',';
    out += control::csvText(serial);
    out += ',';
    out += control::csvText(program);
    const std::vector<std::string>& names = csvValueNames();
    for (std::size_t i = 0; i < values.size(); ++i) {
        out += ',';
        if (!values[i]) continue;
        const std::string& name = i < names.size() ? names[i] : std::string();
        if (name.size() > 7 && name.compare(name.size() - 7, 7, "_status") == 0)
            out += displayValue(valueInfo(name), *values[i]);
        else
            out += valueText(*values[i]);
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
