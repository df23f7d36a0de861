// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Sensors" page: one row per bill path sensor and the temperature row.

#include "control/PaintSurface.h"
#include "diagnostics/SensorsData.h"

namespace norvex::diagnostics {

// Top of the row of sensor index 0..4, 18 pixels apart.
constexpr int sensorRowY(int index) {
    return 230 + 18 * index;
}

void drawSensorsPage(PaintSurface& surface, const SensorsData& data);

} // namespace norvex::diagnostics
