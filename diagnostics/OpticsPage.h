// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Main Optics" page: the settings of transmissive channels 0-4 and reflective channels 0-2
// for one colour.

#include "control/PaintSurface.h"
#include "diagnostics/OpticsData.h"

namespace norvex::diagnostics {

// Left edge of a channel's values; columns show channels 3, 1, 0, 2, 4 from left to right.
constexpr int opticsChannelX(int channel) {
    constexpr int CHANNEL_LEFT[5] = {335, 275, 395, 215, 455};
    return CHANNEL_LEFT[channel];
}

// colour: 0 red, 1 green, 2 blue, 3 infrared; any other value is shown as red.
void drawOpticsPage(PaintSurface& surface, const OpticsData& data, int colour);

} // namespace norvex::diagnostics
