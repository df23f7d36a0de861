// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/StatisticsData.h"

#include "diagnostics/TextFormat.h"

namespace norvex::diagnostics {

const std::array<std::string_view, 20> EVENT_DESCRIPTION{
    "Return Before Evaluation     ", "Did Not Pass Optical Test    ", "Disabled Bill Entry          ",
    "Did Not Pass Security Test   ", "Tailgating Detected          ", "Did Not Pass Correlation Test",
    "Did Not Pass Magnetic Test   ", "Not Used                     ", "Stringing Attempt            ",
    "Max. Credit Storred          ", "Not Used                     ", "Unable to Reject Bill        ",
    "Not Used                     ", "Not Used                     ", "Bill Stacking Failed         ",
    "Did Not Pass Security Test   ", "Not Used                     ", "Bill Returned By Controller  ",
    "Not Used                     ", "Not Used                     ",
};

namespace {

std::uint16_t littleEndian(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

} // namespace

void decodeStatistics(const std::uint8_t* bytes, StatisticsData& data) {
    for (std::size_t k = 0; k < data.billsAccepted.size(); ++k)
        data.billsAccepted[k] = littleEndian(bytes + 2 * k);
    for (std::size_t k = 0; k < data.eventCount.size(); ++k)
        data.eventCount[k] = littleEndian(bytes + 32 + 2 * k);
}

void resetStatistics(StatisticsData& data) {
    data = StatisticsData{};
}

std::uint32_t totalAccepted(const StatisticsData& data) {
    std::uint32_t total = 0;
    for (auto count : data.billsAccepted)
        total += count;
    return total;
}

double acceptanceRate(const StatisticsData& data) {
    const std::uint32_t total = totalAccepted(data);
    const std::uint32_t denominator = total + data.eventCount[1];
    if (denominator == 0) return 0.0;
    return total * 100.0 / denominator;
}

std::string acceptanceRateText(const StatisticsData& data) {
    // Both parts are truncated from the double value, never rounded: 2 of 3 is 66.66 %, and
    // 23 of 125 is 18.39 % because 18.4 is held as 18.3999...
    const double rate = acceptanceRate(data);
    const int whole = static_cast<int>(rate);
    const int hundredths = static_cast<int>(rate * 100.0 - whole * 100);
    return decimal(whole) + "." + decimal(hundredths, 2) + " %";
}

} // namespace norvex::diagnostics
