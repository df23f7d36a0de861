// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/DiagnosticsReport.h"

#include "diagnostics/TextFormat.h"

#include <cstring>
#include <string_view>

namespace norvex::diagnostics {

namespace {

constexpr std::string_view CRLF = "\r\n";
constexpr std::string_view STAR_RULE = "**************************************************************\r\n";
constexpr std::string_view DASH_RULE = "--------------------------------------------------------------\r\n";
constexpr std::string_view COLUMN_HEADER =
    " Color   Ch3   Ch1   Ch0   Ch2   Ch4   ;    Ch1   Ch0   Ch2\r\n\r\n";
// Row labels of the optics and video tables, by optic colour, up to the first value.
constexpr std::string_view COLOUR_LABEL[OPTIC_COLOURS] = {" Red     ", " Green   ", " Blue    ", " I.Red   "};

std::string signedDecimal(int value) {
    return std::to_string(value);
}

std::string tableCell(unsigned value, bool hex) {
    return hex ? hexUpper(value, 3) : decimal(value, 3);
}

// One table row of a colour: transmissive channels 3, 1, 0, 2, 4, a semicolon, reflective
// channels 1, 0, 2. trans(ch) and refl(ch) give the values.
template <typename Trans, typename Refl>
void appendRow(std::string& out, int colour, Trans trans, Refl refl, bool hex, bool blankLineAfter) {
    out += COLOUR_LABEL[colour];
    const char* separator = "";
    for (int ch : TRANSMISSIVE_ORDER) {
        out += separator;
        out += tableCell(trans(ch), hex);
        separator = "   ";
    }
    out += "   ;";
    separator = "    ";
    for (int ch : REFLECTIVE_ORDER) {
        out += separator;
        out += tableCell(refl(ch), hex);
        separator = "   ";
    }
    out += CRLF;
    if (blankLineAfter) out += CRLF;
}

template <typename T>
void appendTable(std::string& out, std::string_view title, const OpticTable<T>& trans,
                 const OpticTable<T>& refl, bool hex, bool blankLineAfter) {
    out += DASH_RULE;
    out += title;
    out += DASH_RULE;
    out += COLUMN_HEADER;
    for (int col = 0; col < OPTIC_COLOURS; ++col)
        appendRow(
            out, col, [&](int ch) { return unsigned{trans[ch][col]}; },
            [&](int ch) { return unsigned{refl[ch][col]}; }, hex, blankLineAfter && col == COLOUR_INFRARED);
}

void appendPartTitle(std::string& out, std::string_view title) {
    out += STAR_RULE;
    out += title;
    out += STAR_RULE;
}

} // namespace

std::string statisticsPart(const ReportContext& ctx) {
    const StatisticsData zero{};
    const StatisticsData& stats = ctx.stats ? *ctx.stats : zero;
    const std::tm& t = ctx.localTime;

    std::string out;
    out += STAR_RULE;
    out += "****************** Tavik diagnostics file **********************\r\n";
    out += STAR_RULE;
    const std::string serial(ctx.serialNumber.c_str()); // as printed text: up to a NUL
    out += "\r\n          Unit Ser. Num.: " + serial + "\r\n";
    // The revision comes from the validator: up to its first NUL, at most 8 characters, and a
    // byte that is not printable ASCII shows as '?', so it cannot break the report's lines.
    const std::size_t revLength = strnlen(ctx.programRevision.data(), ctx.programRevision.size());
    out += "          Program Rev...: ";
    for (std::size_t i = 0; i < revLength; ++i) {
        const char c = ctx.programRevision[i];
        out += (c >= 0x20 && c <= 0x7E) ? c : '?';
    }
    out += CRLF;
    out += "          Date..........: " + signedDecimal(t.tm_mon + 1) + "-" + signedDecimal(t.tm_mday) + "-" +
           signedDecimal(t.tm_year + 1900) + ".\r\n";
    out += "          Time..........: " + signedDecimal(t.tm_hour) + ":" + signedDecimal(t.tm_min) + ":" +
           signedDecimal(t.tm_sec) + ".\r\n\r\n";

    appendPartTitle(out, "  PART I - STATISTICAL DATA \r\n");
    out += DASH_RULE;
    out += "Number  Event Description               Count\r\n";
    out += DASH_RULE;
    for (std::size_t i = 0; i < stats.eventCount.size(); ++i) {
        out += ' ' + decimal(i + 1, 2) + "     ";
        out += EVENT_DESCRIPTION[i];
        out += "   " + decimal(stats.eventCount[i]) + "\r\n";
    }
    out += DASH_RULE;
    out += " Accepted Bills:\r\n";
    out += DASH_RULE;
    out += " Type  Val   Count\r\n\r\n";
    for (std::size_t type = 0; type < stats.billsAccepted.size(); ++type)
        out += ' ' + decimal(type, 2) + "    " + decimal(ctx.billCredit[type], 3) + "   " +
               decimal(stats.billsAccepted[type]) + "\r\n";
    out += " Total     : " + decimal(totalAccepted(stats)) + "\r\n";
    out += DASH_RULE;
    // Nothing counted at all prints 0.00, as the statistics page shows.
    out += " Acceptance Rate : " + fixedTwo(acceptanceRate(stats), 5) + " %\r\n";
    out += DASH_RULE;
    return out;
}

std::string sensorsPart(const ReportContext& ctx) {
    const SensorsData zero{};
    const SensorsData& data = ctx.sensors ? *ctx.sensors : zero;

    std::string out;
    appendPartTitle(out, "  PART II - SENSORS DATA\r\n");
    out += DASH_RULE;
    out += " Sensor:\t Gain(h)  Target   Reading  Status\r\n";
    out += DASH_RULE;
    for (std::size_t i = 0; i < data.sensor.size(); ++i) {
        const SensorReading& s = data.sensor[i];
        out += ' ';
        out += SENSOR_NAME[i];
        out += "\t " + hexUpper(s.gain, 3) + "      " + decimal(s.target, 3) + "      " +
               decimal(s.reading, 3) + "      " + (s.status == 1 ? "open" : "closed") + "\r\n";
    }
    out += DASH_RULE;
    out += " Temperature:\t  Current " + decimal(data.tempCurrent) + " ;  At Vla " + decimal(data.tempAtVla) +
           " \r\n";
    out += DASH_RULE;
    return out;
}

std::string opticsPart(const ReportContext& ctx) {
    const OpticsData zero{};
    const OpticsData& data = ctx.optics ? *ctx.optics : zero;

    std::string out;
    appendPartTitle(out, "  PART III - MAIN OPTICS PARAMETERS\r\n");
    appendTable(out, "         Transmissive Gains                 Reflective Gains\r\n", data.transGain,
                data.reflGain, true, false);
    appendTable(out, "         Transmissive Emitters              Reflective Emitters\r\n", data.transEmitter,
                data.reflEmitter, false, false);
    appendTable(out, "         Transmissive White Levels          Reflective White L.\r\n", data.transWhite,
                data.reflWhite, false, false);
    appendTable(out, "         Transmissive Black Levels          Reflective Black L.\r\n", data.transBlack,
                data.reflBlack, false, true);
    return out;
}

std::string videoPart(const ReportContext& ctx) {
    const VideoTestData zero{};
    const VideoTestData& data = ctx.video ? *ctx.video : zero;

    std::string out;
    appendPartTitle(out, "  PART IV - WHITE PAPER VIDEO TEST RESULTS\r\n");
    out += DASH_RULE;
    out += "         Transmissive Video Levels          Reflective Video L.\r\n";
    out += DASH_RULE;
    out += COLUMN_HEADER;
    for (int col = 0; col < OPTIC_COLOURS; ++col)
        appendRow(
            out, col, [&](int ch) { return unsigned{data.videoTrans[ch][col][0]}; },
            [&](int ch) { return unsigned{data.videoRefl[ch][col][0]}; }, false, col == COLOUR_INFRARED);
    out += DASH_RULE;
    out += STAR_RULE;
    return out;
}

std::string buildReport(const ReportContext& ctx, bool statistics, bool sensors, bool optics, bool video) {
    std::string out;
    if (statistics) out += statisticsPart(ctx);
    if (sensors) out += sensorsPart(ctx);
    if (optics) out += opticsPart(ctx);
    if (video) out += videoPart(ctx);
    return out;
}

std::string sanitizeSerial(const std::string& serial) {
    std::string safe = serial;
    for (char& c : safe) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E || std::strchr("/\\:*?\"<>|", c) != nullptr) c = '_';
    }
    return safe;
}

std::string proposedLogFileName(const std::string& serial) {
    constexpr std::string_view PREFIX = "Tavik_", SUFFIX = ".TXT";
    constexpr std::size_t MAX_NAME = 255; // longest file name on the common Linux file systems
    std::string safe = sanitizeSerial(serial);
    if (safe.size() > MAX_NAME - PREFIX.size() - SUFFIX.size())
        safe.resize(MAX_NAME - PREFIX.size() - SUFFIX.size());
    return std::string(PREFIX) + safe + std::string(SUFFIX);
}

} // namespace norvex::diagnostics
