// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Reading.h"

#include <algorithm>
#include <random>
#include <unistd.h>

namespace norvex::history {

namespace dg = norvex::diagnostics;

std::string makeReadingId() {
    std::random_device rd;
    static const char hex[] = "0123456789abcdef";
    std::string id = "r";
    for (int i = 0; i < 4; ++i) {
        const unsigned v = rd();
        for (int k = 0; k < 8; ++k)
            id += hex[(v >> (4 * k)) & 0xF];
    }
    return id;
}

std::string machineName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "unknown";
    return name;
}

std::string identText(const std::vector<std::uint8_t>& ident, std::size_t from, std::size_t count) {
    std::string out;
    for (std::size_t i = from; i < from + count && i < ident.size(); ++i) {
        const std::uint8_t c = ident[i];
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : (c == 0 ? ' ' : '?');
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    return out;
}

std::string unitSerial(const std::uint8_t* bytes, std::size_t count) {
    auto blank = [](std::uint8_t c) { return c == ' ' || c == 0; };
    std::size_t begin = 0, end = count;
    while (begin < end && blank(bytes[begin]))
        ++begin;
    while (end > begin && blank(bytes[end - 1]))
        --end;
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = begin; i < end; ++i) {
        const std::uint8_t c = bytes[i];
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            out += "\\x";
            out += HEX[c >> 4];
            out += HEX[c & 15];
        }
    }
    return out;
}

std::string identSerial(const std::vector<std::uint8_t>& ident) {
    if (ident.size() <= 3) return {};
    return unitSerial(ident.data() + 3, std::min<std::size_t>(12, ident.size() - 3));
}

namespace {

struct Decoded {
    dg::StatisticsData stats{};
    dg::SensorsData sensors{};
    dg::OpticsData optics{};
    dg::VideoTestData video{};
};

// A record too short for its layout counts as not read.
Decoded decode(const Reading& r) {
    Decoded d;
    if (r.statistics.size() >= dg::STATISTICS_DATA_BYTES) dg::decodeStatistics(r.statistics.data(), d.stats);
    if (r.sensors.size() >= dg::SENSORS_DATA_BYTES) dg::decodeSensors(r.sensors.data(), d.sensors);
    if (r.optics.size() >= dg::OPTICS_DATA_BYTES) dg::decodeOptics(r.optics.data(), d.optics);
    if (r.video.size() >= dg::VIDEO_TEST_DATA_BYTES) dg::decodeVideoTest(r.video.data(), d.video);
    return d;
}

const char* const COLOUR_NAME[4] = {"red", "green", "blue", "infrared"};
const char* const SENSOR_SLUG[5] = {"sidelook", "chan_open", "front_right", "front_left", "rear_exit"};
// The events that say something about the unit (the others are not used by the validator).
constexpr int USED_EVENTS[] = {1, 2, 3, 4, 5, 6, 7, 9, 10, 12, 15, 16, 18};

template <typename F> void eachName(F&& f) {
    f("bills_accepted");
    f("acceptance_rate");
    for (int e : USED_EVENTS)
        f(std::string("event_") + (e < 10 ? "0" : "") + std::to_string(e));
    for (const char* s : SENSOR_SLUG)
        for (const char* field : {"gain", "target", "reading", "status"})
            f(std::string(s) + "_" + field);
    f("temperature_current");
    f("temperature_at_vla");
    for (const char* table : {"white", "black", "gain", "emitter"}) {
        for (int c = 0; c < 4; ++c) {
            f(std::string("trans_") + table + "_" + COLOUR_NAME[c]);
            f(std::string("refl_") + table + "_" + COLOUR_NAME[c]);
        }
    }
    for (const char* table : {"white", "black", "gain", "emitter"}) {
        for (int c = 0; c < 4; ++c) {
            for (int ch : dg::TRANSMISSIVE_ORDER)
                f(std::string("trans_") + table + "_ch" + std::to_string(ch) + "_" + COLOUR_NAME[c]);
            for (int ch : dg::REFLECTIVE_ORDER)
                f(std::string("refl_") + table + "_ch" + std::to_string(ch) + "_" + COLOUR_NAME[c]);
        }
    }
    for (int c = 0; c < 4; ++c) {
        f(std::string("video_trans_") + COLOUR_NAME[c]);
        f(std::string("video_refl_") + COLOUR_NAME[c]);
    }
    for (int c = 0; c < 4; ++c) {
        for (int ch : dg::TRANSMISSIVE_ORDER)
            f(std::string("video_trans_ch") + std::to_string(ch) + "_" + COLOUR_NAME[c]);
        for (int ch : dg::REFLECTIVE_ORDER)
            f(std::string("video_refl_ch") + std::to_string(ch) + "_" + COLOUR_NAME[c]);
    }
}

template <typename T> double transMean(const dg::OpticTable<T>& t, int colour) {
    double sum = 0;
    for (int ch : dg::TRANSMISSIVE_ORDER)
        sum += t[ch][colour];
    return sum / 5.0;
}
template <typename T> double reflMean(const dg::OpticTable<T>& t, int colour) {
    double sum = 0;
    for (int ch : dg::REFLECTIVE_ORDER)
        sum += t[ch][colour];
    return sum / 3.0;
}

} // namespace

const std::vector<std::string>& valueNames() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        eachName([&](const std::string& n) { out.push_back(n); });
        return out;
    }();
    return names;
}

std::vector<std::pair<std::string, double>> decodedValues(const Reading& r) {
    const Decoded d = decode(r);
    std::vector<std::pair<std::string, double>> out;
    auto put = [&](std::string name, double v) { out.emplace_back(std::move(name), v); };

    if (r.statistics.size() >= dg::STATISTICS_DATA_BYTES) {
        put("bills_accepted", dg::totalAccepted(d.stats));
        put("acceptance_rate", dg::acceptanceRate(d.stats));
        for (int e : USED_EVENTS)
            put(std::string("event_") + (e < 10 ? "0" : "") + std::to_string(e), d.stats.eventCount[e - 1]);
    }
    if (r.sensors.size() >= dg::SENSORS_DATA_BYTES) {
        for (int i = 0; i < 5; ++i) {
            const auto& s = d.sensors.sensor[i];
            put(std::string(SENSOR_SLUG[i]) + "_gain", s.gain);
            put(std::string(SENSOR_SLUG[i]) + "_target", s.target);
            put(std::string(SENSOR_SLUG[i]) + "_reading", s.reading);
            put(std::string(SENSOR_SLUG[i]) + "_status", s.status);
        }
        put("temperature_current", d.sensors.tempCurrent);
        put("temperature_at_vla", d.sensors.tempAtVla);
    }
    if (r.optics.size() >= dg::OPTICS_DATA_BYTES) {
        const auto& o = d.optics;
        auto means = [&](const char* table, const auto& trans, const auto& refl) {
            for (int c = 0; c < 4; ++c) {
                put(std::string("trans_") + table + "_" + COLOUR_NAME[c], transMean(trans, c));
                put(std::string("refl_") + table + "_" + COLOUR_NAME[c], reflMean(refl, c));
            }
        };
        means("white", o.transWhite, o.reflWhite);
        means("black", o.transBlack, o.reflBlack);
        means("gain", o.transGain, o.reflGain);
        means("emitter", o.transEmitter, o.reflEmitter);
        auto each = [&](const char* table, const auto& trans, const auto& refl) {
            for (int c = 0; c < 4; ++c) {
                for (int ch : dg::TRANSMISSIVE_ORDER)
                    put(std::string("trans_") + table + "_ch" + std::to_string(ch) + "_" + COLOUR_NAME[c],
                        trans[ch][c]);
                for (int ch : dg::REFLECTIVE_ORDER)
                    put(std::string("refl_") + table + "_ch" + std::to_string(ch) + "_" + COLOUR_NAME[c],
                        refl[ch][c]);
            }
        };
        each("white", o.transWhite, o.reflWhite);
        each("black", o.transBlack, o.reflBlack);
        each("gain", o.transGain, o.reflGain);
        each("emitter", o.transEmitter, o.reflEmitter);
    }
    if (r.video.size() >= dg::VIDEO_TEST_DATA_BYTES) {
        const auto& v = d.video;
        for (int c = 0; c < 4; ++c) {
            double t = 0, f = 0;
            for (int ch : dg::TRANSMISSIVE_ORDER)
                t += v.videoTrans[ch][c][0];
            for (int ch : dg::REFLECTIVE_ORDER)
                f += v.videoRefl[ch][c][0];
            put(std::string("video_trans_") + COLOUR_NAME[c], t / 5.0);
            put(std::string("video_refl_") + COLOUR_NAME[c], f / 3.0);
        }
        for (int c = 0; c < 4; ++c) {
            for (int ch : dg::TRANSMISSIVE_ORDER)
                put(std::string("video_trans_ch") + std::to_string(ch) + "_" + COLOUR_NAME[c],
                    v.videoTrans[ch][c][0]);
            for (int ch : dg::REFLECTIVE_ORDER)
                put(std::string("video_refl_ch") + std::to_string(ch) + "_" + COLOUR_NAME[c],
                    v.videoRefl[ch][c][0]);
        }
    }
    return out;
}

std::string recreateReport(const Reading& r) {
    const Decoded d = decode(r);
    dg::ReportContext ctx;
    ctx.stats = &d.stats;
    ctx.sensors = &d.sensors;
    ctx.optics = &d.optics;
    ctx.video = &d.video;
    ctx.billCredit = r.billCredit;
    ctx.programRevision = r.programRevision;
    ctx.serialNumber = r.reportSerial;
    ctx.localTime = r.localTime;
    return dg::buildReport(ctx, r.parts & PART_STATISTICS, r.parts & PART_SENSORS, r.parts & PART_OPTICS,
                           r.parts & PART_VIDEO);
}

} // namespace norvex::history
