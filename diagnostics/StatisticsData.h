// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The validator's statistics counters: bills accepted per bill type and counts of 20 events.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvex::diagnostics {

// Data bytes of the statistics record (the checksum that follows is not part of them).
inline constexpr std::size_t STATISTICS_DATA_BYTES = 72;

struct StatisticsData {
    std::array<std::uint16_t, 16> billsAccepted{}; // by bill type 0..15
    std::array<std::uint16_t, 20> eventCount{};    // index = event number - 1
};

// Event texts, index = event number - 1; each exactly 29 characters, padded with blanks.
extern const std::array<std::string_view, 20> EVENT_DESCRIPTION;

// Counters are little-endian 16-bit values: 16 bill counts, then 20 event counts.
void decodeStatistics(const std::uint8_t* bytes, StatisticsData& data);
void resetStatistics(StatisticsData& data);

// Sum over all 16 bill types.
std::uint32_t totalAccepted(const StatisticsData& data);
// Accepted bills in percent of accepted plus optical rejections (event 2); 0 when both are 0.
double acceptanceRate(const StatisticsData& data);
// The rate truncated to hundredths as "whole.hh %", for example "66.66 %"; "0.00 %" when
// nothing was counted.
std::string acceptanceRateText(const StatisticsData& data);

} // namespace norvex::diagnostics
