// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/VideoTestData.h"

namespace norvex::diagnostics {

namespace {

void averageIntoFirst(std::array<std::uint8_t, VIDEO_SAMPLES>& samples) {
    unsigned sum = 0; // five samples of up to 255 exceed a byte
    for (auto v : samples)
        sum += v;
    samples[0] = static_cast<std::uint8_t>(sum / VIDEO_SAMPLES);
}

} // namespace

void decodeVideoTest(const std::uint8_t* bytes, VideoTestData& data) {
    for (int s = 0; s < VIDEO_SAMPLES; ++s) {
        for (int ch = 0; ch < OPTIC_CHANNELS; ++ch) {
            for (int col = 0; col < OPTIC_COLOURS; ++col) {
                const int i = 2 * (28 * s + 4 * ch + col);
                data.videoRefl[ch][col][s] = bytes[i];
                data.videoTrans[ch][col][s] = bytes[i + 1];
            }
        }
    }
    for (auto& channel : data.videoRefl)
        for (auto& samples : channel)
            averageIntoFirst(samples);
    for (auto& channel : data.videoTrans)
        for (auto& samples : channel)
            averageIntoFirst(samples);
}

void resetVideoTest(VideoTestData& data) {
    data = VideoTestData{};
}

} // namespace norvex::diagnostics
