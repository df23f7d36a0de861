// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/OpticsData.h"

namespace norvex::diagnostics {

void decodeOptics(const std::uint8_t* bytes, OpticsData& data) {
    for (int ch = 0; ch < OPTIC_CHANNELS; ++ch) {
        for (int col = 0; col < OPTIC_COLOURS; ++col) {
            const int k = 4 * ch + col;
            data.reflWhite[ch][col] = bytes[k];
            data.transWhite[ch][col] = bytes[28 + k];
            data.reflBlack[ch][col] = bytes[56 + k];
            data.transBlack[ch][col] = bytes[84 + k];
            data.transGain[ch][col] =
                static_cast<std::uint16_t>((bytes[112 + 2 * k] << 8) | bytes[113 + 2 * k]);
            data.reflGain[ch][col] =
                static_cast<std::uint16_t>((bytes[168 + 2 * k] << 8) | bytes[169 + 2 * k]);
            data.transEmitter[ch][col] = bytes[225 + 2 * k];
            data.reflEmitter[ch][col] = bytes[281 + 2 * k];
        }
    }
}

void resetOptics(OpticsData& data) {
    data = OpticsData{};
}

} // namespace norvex::diagnostics
