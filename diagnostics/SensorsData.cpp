// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/SensorsData.h"

namespace norvex::diagnostics {

const std::array<std::string_view, 5> SENSOR_NAME{"Sidelook", "Chan. Open", "Front right", "Front left",
                                                  "Rear exit"};

void decodeSensors(const std::uint8_t* bytes, SensorsData& data) {
    for (int group = 0; group < 5; ++group) {
        const std::uint8_t* g = bytes + 5 * group;
        SensorReading& s = data.sensor[(group + 2) % 5];
        s.gain = static_cast<std::uint16_t>((g[0] << 8) | g[1]);
        s.target = g[2];
        s.reading = g[3];
        s.status = g[4];
    }
    data.tempAtVla = bytes[25];
    data.tempCurrent = bytes[26];
}

void resetSensors(SensorsData& data) {
    data = SensorsData{};
}

} // namespace norvex::diagnostics
