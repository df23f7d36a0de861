// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The validator's optical channels as the service pages and the report show them: transmissive
// channels 0 to 4 left to right in the order 3, 1, 0, 2, 4, reflective channels 0 to 2 in the
// order 1, 0, 2; four light colours per channel.

#include "control/PaintSurface.h"

#include <array>

namespace norvex::diagnostics {

inline constexpr int OPTIC_CHANNELS = 7; // kept per record; only the first five / three are shown
inline constexpr int OPTIC_COLOURS = 4;

enum OpticColour : int { COLOUR_RED = 0, COLOUR_GREEN = 1, COLOUR_BLUE = 2, COLOUR_INFRARED = 3 };

inline constexpr std::array<int, 5> TRANSMISSIVE_ORDER{3, 1, 0, 2, 4};
inline constexpr std::array<int, 3> REFLECTIVE_ORDER{1, 0, 2};

// The colour values and marks of an optic colour are drawn in; infrared is shown in yellow.
// An index outside 0..3 is shown as red.
constexpr Rgb opticColourRgb(int colour) {
    switch (colour) {
    case COLOUR_GREEN:
        return colours::GREEN;
    case COLOUR_BLUE:
        return colours::BLUE;
    case COLOUR_INFRARED:
        return colours::YELLOW;
    default:
        return colours::RED;
    }
}

} // namespace norvex::diagnostics
