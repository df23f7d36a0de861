// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The white-paper video test: five samples of the reflective and transmissive video level of
// every optical channel and colour. Tables are indexed [channel 0..6][colour 0..3][sample 0..4];
// after decoding, sample 0 holds the average of the five.

#include "diagnostics/OpticChannels.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvex::diagnostics {

inline constexpr std::size_t VIDEO_TEST_DATA_BYTES = 280;
inline constexpr int VIDEO_SAMPLES = 5;

using VideoTable =
    std::array<std::array<std::array<std::uint8_t, VIDEO_SAMPLES>, OPTIC_COLOURS>, OPTIC_CHANNELS>;

struct VideoTestData {
    VideoTable videoRefl{};
    VideoTable videoTrans{};
};

// Five samples of 56 bytes; in each, per channel and colour, the reflective then the
// transmissive byte. Sample 0 is then replaced by the average of the five, remainder dropped.
void decodeVideoTest(const std::uint8_t* bytes, VideoTestData& data);
void resetVideoTest(VideoTestData& data);

} // namespace norvex::diagnostics
