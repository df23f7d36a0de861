// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/DiagnosticsReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

using namespace norvex::diagnostics;

namespace {

// A small set of records as the validator would send them, decoded as the main window does.
struct KnownUnit {
    StatisticsData stats;
    SensorsData sensors;
    OpticsData optics;
    VideoTestData video;
    ReportContext ctx;

    KnownUnit() {
        std::array<std::uint8_t, STATISTICS_DATA_BYTES> s{};
        s[0] = 0x02;                // bill type 0: 2
        s[10] = 0x03, s[11] = 0x01; // bill type 5: 259
        s[30] = 0x01;               // bill type 15: 1
        s[32] = 7;                  // event 1: 7
        s[35] = 0x01;               // event 2: 256
        s[50] = 3;                  // event 10: 3
        s[70] = 0xFF, s[71] = 0xFF; // event 20: 65535
        decodeStatistics(s.data(), stats);

        std::array<std::uint8_t, SENSORS_DATA_BYTES> n{0x01, 0x2C, 7,   100, 1, // Front right
                                                       0x00, 0x0A, 0,   255, 2, // Front left
                                                       0x12, 0x34, 128, 127, 0, // Rear exit
                                                       0x00, 0xFF, 1,   2,   1, // Sidelook
                                                       0x00, 0x00, 0,   0,   0, // Chan. Open
                                                       31,                      // at vla
                                                       5};                      // current
        decodeSensors(n.data(), sensors);

        std::array<std::uint8_t, OPTICS_DATA_BYTES> o{};
        o[6] = 180;                   // reflWhite [1][2]
        o[37] = 250;                  // transWhite [2][1]
        o[52] = 99;                   // transWhite [6][0], never shown
        o[67] = 17;                   // reflBlack [2][3]
        o[84] = 5;                    // transBlack [0][0]
        o[118] = 0x12, o[119] = 0x34; // transGain [0][3]
        o[136] = 0x0A, o[137] = 0xBC; // transGain [3][0]
        o[146] = 0x00, o[147] = 0x0A; // transGain [4][1]
        o[188] = 0x01, o[189] = 0x00; // reflGain [2][2]
        o[208] = 0xFF, o[209] = 0xFF; // reflGain [5][0], never shown
        o[232] = 0x99, o[233] = 42;   // transEmitter [1][0]
        o[286] = 0x77, o[287] = 200;  // reflEmitter [0][3]
        decodeOptics(o.data(), optics);

        std::array<std::uint8_t, VIDEO_TEST_DATA_BYTES> v{};
        const std::uint8_t infrared[5] = {80, 80, 80, 80, 84};
        for (int i = 0; i < 5; ++i) {
            v[56 * i] = 0x10;             // channel 0 red, reflective
            v[56 * i + 1] = 0x60;         // channel 0 red, transmissive
            v[56 * i + 10] = 255;         // channel 1 green, reflective
            v[56 * i + 20] = i + 1;       // channel 2 blue, reflective: 1..5
            v[56 * i + 31] = infrared[i]; // channel 3 infrared, transmissive
        }
        decodeVideoTest(v.data(), video);

        ctx.stats = &stats;
        ctx.sensors = &sensors;
        ctx.optics = &optics;
        ctx.video = &video;
        ctx.billCredit = {1, 5, 10, 20, 50, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1000};
        ctx.programRevision = {'V', '1', '.', '2', '3', '-', 'B', 'E'}; // no terminator
        ctx.serialNumber = "TV12345678";
        ctx.localTime.tm_year = 2026 - 1900;
        ctx.localTime.tm_mon = 11; // December
        ctx.localTime.tm_mday = 6;
        ctx.localTime.tm_hour = 9;
        ctx.localTime.tm_min = 5;
        ctx.localTime.tm_sec = 3;
    }
};

// clang-format off
#define STARS "**************************************************************\r\n"
#define DASHES "--------------------------------------------------------------\r\n"
#define COLUMNS " Color   Ch3   Ch1   Ch0   Ch2   Ch4   ;    Ch1   Ch0   Ch2\r\n\r\n"

const std::string EXPECTED_STATISTICS =
    STARS
    "****************** Tavik diagnostics file **********************\r\n"
    STARS
    "\r\n"
    "          Unit Ser. Num.: TV12345678\r\n"
    "          Program Rev...: V1.23-BE\r\n"
    "          Date..........: 12-6-2026.\r\n"
    "          Time..........: 9:5:3.\r\n"
    "\r\n"
    STARS
    "  PART I - STATISTICAL DATA \r\n"
    STARS
    DASHES
    "Number  Event Description               Count\r\n"
    DASHES
    " 01     Return Before Evaluation        7\r\n"
    " 02     Did Not Pass Optical Test       256\r\n"
    " 03     Disabled Bill Entry             0\r\n"
    " 04     Did Not Pass Security Test      0\r\n"
    " 05     Tailgating Detected             0\r\n"
    " 06     Did Not Pass Correlation Test   0\r\n"
    " 07     Did Not Pass Magnetic Test      0\r\n"
    " 08     Not Used                        0\r\n"
    " 09     Stringing Attempt               0\r\n"
    " 10     Max. Credit Storred             3\r\n"
    " 11     Not Used                        0\r\n"
    " 12     Unable to Reject Bill           0\r\n"
    " 13     Not Used                        0\r\n"
    " 14     Not Used                        0\r\n"
    " 15     Bill Stacking Failed            0\r\n"
    " 16     Did Not Pass Security Test      0\r\n"
    " 17     Not Used                        0\r\n"
    " 18     Bill Returned By Controller     0\r\n"
    " 19     Not Used                        0\r\n"
    " 20     Not Used                        65535\r\n"
    DASHES
    " Accepted Bills:\r\n"
    DASHES
    " Type  Val   Count\r\n"
    "\r\n"
    " 00    001   2\r\n"
    " 01    005   0\r\n"
    " 02    010   0\r\n"
    " 03    020   0\r\n"
    " 04    050   0\r\n"
    " 05    100   259\r\n"
    " 06    000   0\r\n"
    " 07    000   0\r\n"
    " 08    000   0\r\n"
    " 09    000   0\r\n"
    " 10    000   0\r\n"
    " 11    000   0\r\n"
    " 12    000   0\r\n"
    " 13    000   0\r\n"
    " 14    000   0\r\n"
    " 15    1000   1\r\n"
    " Total     : 262\r\n"
    DASHES
    " Acceptance Rate : 50.58 %\r\n" // 26200 / 518 = 50.579..., rounded here
    DASHES;

const std::string EXPECTED_SENSORS =
    STARS
    "  PART II - SENSORS DATA\r\n"
    STARS
    DASHES
    " Sensor:\t Gain(h)  Target   Reading  Status\r\n"
    DASHES
    " Sidelook\t 0FF      001      002      open\r\n"
    " Chan. Open\t 000      000      000      closed\r\n"
    " Front right\t 12C      007      100      open\r\n"
    " Front left\t 00A      000      255      closed\r\n"
    " Rear exit\t 1234      128      127      closed\r\n"
    DASHES
    " Temperature:\t  Current 5 ;  At Vla 31 \r\n"
    DASHES;

const std::string EXPECTED_OPTICS =
    STARS
    "  PART III - MAIN OPTICS PARAMETERS\r\n"
    STARS
    DASHES
    "         Transmissive Gains                 Reflective Gains\r\n"
    DASHES
    COLUMNS
    " Red     ABC   000   000   000   000   ;    000   000   000\r\n"
    " Green   000   000   000   000   00A   ;    000   000   000\r\n"
    " Blue    000   000   000   000   000   ;    000   000   100\r\n"
    " I.Red   000   000   1234   000   000   ;    000   000   000\r\n"
    DASHES
    "         Transmissive Emitters              Reflective Emitters\r\n"
    DASHES
    COLUMNS
    " Red     000   042   000   000   000   ;    000   000   000\r\n"
    " Green   000   000   000   000   000   ;    000   000   000\r\n"
    " Blue    000   000   000   000   000   ;    000   000   000\r\n"
    " I.Red   000   000   000   000   000   ;    000   200   000\r\n"
    DASHES
    "         Transmissive White Levels          Reflective White L.\r\n"
    DASHES
    COLUMNS
    " Red     000   000   000   000   000   ;    000   000   000\r\n"
    " Green   000   000   000   250   000   ;    000   000   000\r\n"
    " Blue    000   000   000   000   000   ;    180   000   000\r\n"
    " I.Red   000   000   000   000   000   ;    000   000   000\r\n"
    DASHES
    "         Transmissive Black Levels          Reflective Black L.\r\n"
    DASHES
    COLUMNS
    " Red     000   000   005   000   000   ;    000   000   000\r\n"
    " Green   000   000   000   000   000   ;    000   000   000\r\n"
    " Blue    000   000   000   000   000   ;    000   000   000\r\n"
    " I.Red   000   000   000   000   000   ;    000   000   017\r\n"
    "\r\n";

const std::string EXPECTED_VIDEO =
    STARS
    "  PART IV - WHITE PAPER VIDEO TEST RESULTS\r\n"
    STARS
    DASHES
    "         Transmissive Video Levels          Reflective Video L.\r\n"
    DASHES
    COLUMNS
    " Red     000   000   096   000   000   ;    000   016   000\r\n"
    " Green   000   000   000   000   000   ;    255   000   000\r\n"
    " Blue    000   000   000   000   000   ;    000   000   003\r\n"
    " I.Red   080   000   000   000   000   ;    000   000   000\r\n"
    "\r\n"
    DASHES
    STARS;
// clang-format on

// Where two long texts part, with visible line ends.
std::string firstDifference(const std::string& got, const std::string& want) {
    std::size_t i =
        std::mismatch(got.begin(), got.begin() + std::min(got.size(), want.size()), want.begin()).first -
        got.begin();
    auto show = [&](const std::string& s) {
        std::string out;
        for (char c : s.substr(i > 40 ? i - 40 : 0, 80))
            out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
        return out;
    };
    return "at byte " + std::to_string(i) + "\n got: " + show(got) + "\nwant: " + show(want);
}

} // namespace

TEST(DiagnosticsReport, CompleteReportOfAKnownUnitMatchesByteForByte) {
    const KnownUnit unit;
    const std::string want = EXPECTED_STATISTICS + EXPECTED_SENSORS + EXPECTED_OPTICS + EXPECTED_VIDEO;
    const std::string got = buildReport(unit.ctx, true, true, true, true);
    EXPECT_EQ(got, want) << firstDifference(got, want);
}

TEST(DiagnosticsReport, PartsFollowInFixedOrderAndOnlyWhenChosen) {
    const KnownUnit unit;
    EXPECT_EQ(buildReport(unit.ctx, false, false, false, false), "");
    const std::string sensorsOnly = buildReport(unit.ctx, false, true, false, false);
    EXPECT_EQ(sensorsOnly, EXPECTED_SENSORS);
    EXPECT_EQ(sensorsOnly.rfind(STARS "  PART II - SENSORS DATA\r\n", 0), 0u);
    EXPECT_EQ(buildReport(unit.ctx, false, true, false, true), EXPECTED_SENSORS + EXPECTED_VIDEO);
    EXPECT_EQ(buildReport(unit.ctx, true, false, true, false), EXPECTED_STATISTICS + EXPECTED_OPTICS);
}

TEST(DiagnosticsReport, IdentificationPrintsShortRevisionAndDateWithoutLeadingZeros) {
    KnownUnit unit;
    unit.ctx.programRevision = {'R', '7', '\0', 'X', 'X', 'X', 'X', 'X'};
    unit.ctx.serialNumber = "";
    unit.ctx.localTime.tm_mon = 0;
    unit.ctx.localTime.tm_mday = 31;
    unit.ctx.localTime.tm_hour = 23;
    unit.ctx.localTime.tm_min = 0;
    unit.ctx.localTime.tm_sec = 59;
    const std::string part = statisticsPart(unit.ctx);
    EXPECT_NE(part.find("\r\n          Unit Ser. Num.: \r\n          Program Rev...: R7\r\n"
                        "          Date..........: 1-31-2026.\r\n          Time..........: 23:0:59.\r\n\r\n"),
              std::string::npos);
}

TEST(DiagnosticsReport, RevisionBytesThatAreNotPrintableCannotBreakTheLines) {
    KnownUnit unit;
    unit.ctx.programRevision = {'V', '2', '\n', '1', '\r', '7', '\a', '\0'};
    const std::string part = statisticsPart(unit.ctx);
    EXPECT_NE(part.find("          Program Rev...: V2?1?7?\r\n"), std::string::npos);
}

TEST(DiagnosticsReport, MissingRecordsPrintAsZerosAndNothingCountedIsZeroPercent) {
    const ReportContext empty;
    const std::string report = buildReport(empty, true, true, true, true);
    EXPECT_NE(report.find(" Total     : 0\r\n" DASHES " Acceptance Rate :  0.00 %\r\n"), std::string::npos);
    EXPECT_NE(report.find(" Sidelook\t 000      000      000      closed\r\n"), std::string::npos);
    EXPECT_NE(report.find(" I.Red   000   000   000   000   000   ;    000   000   000\r\n\r\n" DASHES STARS),
              std::string::npos);
    EXPECT_EQ(report.find('\0'), std::string::npos);
}

TEST(LogFileName, SerialIsMadeSafeToStandInAFileName) {
    EXPECT_EQ(proposedLogFileName("TV12345678"), "Tavik_TV12345678.TXT");
    EXPECT_EQ(proposedLogFileName(""), "Tavik_.TXT");
    EXPECT_EQ(proposedLogFileName("../x"), "Tavik_.._x.TXT");
    EXPECT_EQ(proposedLogFileName("/etc/passwd"), "Tavik__etc_passwd.TXT");
    EXPECT_EQ(sanitizeSerial("a\\b:c*d?e\"f<g>h|i"), "a_b_c_d_e_f_g_h_i");
    EXPECT_EQ(sanitizeSerial(std::string("a\nb\0c\x7f\xe9", 7)), "a_b_c__");
    EXPECT_EQ(sanitizeSerial("AB-12 x.y"), "AB-12 x.y");
    EXPECT_EQ(proposedLogFileName(std::string(300, 'A')).size(), 255u);
}
