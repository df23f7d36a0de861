// SPDX-License-Identifier: GPL-3.0-or-later
// The diagnostics records from any bytes: the four decoders, their page drawings and the
// report text, with any bill credits, program revision, serial number and (valid) clock.
//
// Input: 8 bytes of options (parts chosen, colour, halves, clock), 32 bytes of bill credits,
// 8 of program revision, a length-prefixed serial number, then the record bytes (statistics,
// sensors, optics, video test in this order; missing bytes are zero).

#include "ByteScript.h"
#include "HeadlessView.h"

#include "diagnostics/Diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace norvex;
using namespace norvex::diagnostics;

namespace {

[[noreturn]] void broken(const char* what, long value) {
    std::fprintf(stderr, "report invariant broken: %s (%ld)\n", what, value);
    std::abort();
}

// Plain 8-bit text with CR LF line ends: no NUL, no bare CR or LF.
void checkText(const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\0') broken("NUL byte in the report", static_cast<long>(i));
        if (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))
            broken("CR without LF", static_cast<long>(i));
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) broken("LF without CR", static_cast<long>(i));
    }
    if (!text.empty() && text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") != 0)
        broken("report does not end with CR LF", static_cast<long>(text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteScript s(data, size);
    const std::uint8_t parts = s.byte();
    const std::uint8_t pageOptions = s.byte();

    ReportContext ctx;
    // Whatever localtime_r can give, years included.
    ctx.localTime.tm_sec = s.byte() % 61;
    ctx.localTime.tm_min = s.byte() % 60;
    ctx.localTime.tm_hour = s.byte() % 24;
    ctx.localTime.tm_mday = 1 + s.byte() % 31;
    ctx.localTime.tm_mon = s.byte() % 12;
    ctx.localTime.tm_year = static_cast<int>(s.byte()) * 40 - 1900;
    for (auto& credit : ctx.billCredit)
        credit = s.u16();
    // The revision comes from the validator's identification answer and may hold any bytes; the
    // report must still have only CR LF line ends (checked below).
    for (auto& c : ctx.programRevision)
        c = static_cast<char>(s.byte());
    // The serial number: any bytes for the file name, and as the log dialog and the batch
    // options let it through (at most 10 printable characters) for the report.
    std::string serial(s.byte(), '\0');
    serial.resize(s.take(reinterpret_cast<std::uint8_t*>(serial.data()), serial.size()));
    for (std::size_t i = 0; i < serial.size() && i < 10; ++i)
        ctx.serialNumber.push_back(static_cast<char>(0x20 + static_cast<std::uint8_t>(serial[i]) % 95));

    std::vector<std::uint8_t> record(STATISTICS_DATA_BYTES + SENSORS_DATA_BYTES + OPTICS_DATA_BYTES +
                                     VIDEO_TEST_DATA_BYTES);
    s.take(record.data(), record.size());
    const std::uint8_t* bytes = record.data();

    StatisticsData stats;
    SensorsData sensors;
    OpticsData optics;
    VideoTestData video;
    decodeStatistics(bytes, stats);
    bytes += STATISTICS_DATA_BYTES;
    decodeSensors(bytes, sensors);
    bytes += SENSORS_DATA_BYTES;
    decodeOptics(bytes, optics);
    bytes += OPTICS_DATA_BYTES;
    decodeVideoTest(bytes, video);

    // Sample 0 of the video test becomes the average of the five samples, which must not wrap
    // in 8 bits; samples 1..4 stay as received. Sample k of channel c, colour o is at
    // 56 k + 2 (4 c + o), reflective first.
    for (int c = 0; c < OPTIC_CHANNELS; ++c)
        for (int o = 0; o < OPTIC_COLOURS; ++o)
            for (int t = 0; t < 2; ++t) {
                const auto& samples = (t == 0 ? video.videoRefl : video.videoTrans)[c][o];
                unsigned sum = 0;
                for (int k = 0; k < VIDEO_SAMPLES; ++k) {
                    const std::uint8_t raw = bytes[56 * k + 2 * (4 * c + o) + t];
                    sum += raw;
                    if (k > 0 && samples[k] != raw) broken("video sample changed", k);
                }
                if (samples[0] != sum / VIDEO_SAMPLES) broken("video average", samples[0]);
            }

    const std::string rate = acceptanceRateText(stats);
    if (rate.size() < 6 || rate.compare(rate.size() - 2, 2, " %") != 0) broken("acceptance rate text", 0);
    const double percent = acceptanceRate(stats);
    if (!(percent >= 0.0 && percent <= 100.0))
        broken("acceptance rate outside 0..100", static_cast<long>(percent));

    fuzz::HeadlessSurface surface;
    drawStatisticsPage(surface, stats, pageOptions & 1, pageOptions & 2);
    drawSensorsPage(surface, sensors);
    drawOpticsPage(surface, optics, (pageOptions >> 2) % 4);
    drawVideoTestPage(surface, video);

    ctx.stats = (parts & 0x10) ? nullptr : &stats;
    ctx.sensors = (parts & 0x20) ? nullptr : &sensors;
    ctx.optics = (parts & 0x40) ? nullptr : &optics;
    ctx.video = (parts & 0x80) ? nullptr : &video;
    const std::string report = buildReport(ctx, parts & 1, parts & 2, parts & 4, parts & 8);
    if ((parts & 0x0F) == 0 && !report.empty()) broken("report without parts is not empty", 0);
    if ((parts & 0x0F) != 0 && report.empty()) broken("report with parts is empty", parts);
    checkText(report);

    const std::string clean = sanitizeSerial(serial);
    for (unsigned char c : clean)
        if (c < 0x20 || c >= 0x7F ||
            std::string_view("/\\:*?\"<>|").find(static_cast<char>(c)) != std::string_view::npos)
            broken("character left in the sanitized serial number", c);
    const std::string name = proposedLogFileName(serial);
    if (name.size() > 255 || name.compare(0, 6, "Tavik_") != 0 || name.find('/') != std::string::npos)
        broken("proposed log file name", static_cast<long>(name.size()));
    return 0;
}
