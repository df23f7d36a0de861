#pragma once
// The validator's optical channels as the service pages and the report show them: transmissive
// channels 0 to 4 left to right in the order 3, 1, 0, 2, 4, reflective channels 0 to 2 in the
// order 1, 0, 2; four light colours per channel.

#include "control/PaintSurface.h"

#include <array>

namespace norvex::diagnostics {

inline constexpr int opticChannels = 7; // kept per record; only the first five / three are shown
inline constexpr int opticColours = 4;

enum OpticColour : int { colourRed = 0, colourGreen = 1, colourBlue = 2, colourInfrared = 3 };

inline constexpr std::array<int, 5> transmissiveOrder{3, 1, 0, 2, 4};
inline constexpr std::array<int, 3> reflectiveOrder{1, 0, 2};

// The colour values and marks of an optic colour are drawn in; infrared is shown in yellow.
// An index outside 0..3 is shown as red.
constexpr Rgb opticColourRgb(int colour) {
    switch (colour) {
    case colourGreen:
        return colours::green;
    case colourBlue:
        return colours::blue;
    case colourInfrared:
        return colours::yellow;
    default:
        return colours::red;
    }
}

} // namespace norvex::diagnostics
