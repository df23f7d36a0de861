// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/SensorsPage.h"

#include "diagnostics/PagePens.h"
#include "diagnostics/TextFormat.h"

namespace norvex::diagnostics {

void drawSensorsPage(PaintSurface& surface, const SensorsData& data) {
    pageText(surface, 60, 205, "Sensor", colours::GREY);
    pageText(surface, 180, 205, "Gain (hex)", colours::GREY);
    pageText(surface, 260, 205, "Target", colours::GREY);
    pageText(surface, 340, 205, "Reading", colours::GREY);
    pageText(surface, 420, 205, "Status", colours::GREY);

    for (int i = 0; i < 5; ++i) {
        const SensorReading& s = data.sensor[i];
        const int y = sensorRowY(i);
        pageText(surface, 60, y, SENSOR_NAME[i], colours::GREY);
        pageText(surface, 180, y, hexUpper(s.gain, 4), colours::GREEN);
        pageText(surface, 260, y, decimal(s.target, 3), colours::GREEN);
        pageText(surface, 340, y, decimal(s.reading, 3), colours::GREEN);
        if (s.status != 0)
            pageText(surface, 420, y, "open", colours::GREY);
        else
            pageText(surface, 420, y, "closed", colours::RED);
    }

    pageText(surface, 60, 330, "Temperature", colours::GREY);
    pageText(surface, 180, 330, "Current :  " + decimal(data.tempCurrent, 2), colours::GREEN);
    pageText(surface, 340, 330, "At vla  :  " + decimal(data.tempAtVla, 2), colours::GREEN);

    for (int x : {45, 165, 325, 500})
        gridLine(surface, x, 203, x, 350);
    for (int x : {250, 410})
        gridLine(surface, x, 203, x, 325);
    for (int y : {203, 225, 325, 350})
        gridLine(surface, 45, y, 500, y);
}

} // namespace norvex::diagnostics
