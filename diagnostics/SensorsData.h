// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bill path sensors report: gain, target, reading and status of five sensors, and the
// temperature.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace norvex::diagnostics {

inline constexpr std::size_t SENSORS_DATA_BYTES = 27;

struct SensorReading {
    std::uint16_t gain = 0;
    std::uint8_t target = 0, reading = 0;
    std::uint8_t status = 0; // 0 closed, anything else open
};

// Indexed by the row on the page: 0 "Sidelook", 1 "Chan. Open", 2 "Front right",
// 3 "Front left", 4 "Rear exit".
struct SensorsData {
    std::array<SensorReading, 5> sensor{};
    std::uint8_t tempAtVla = 0;   // the temperature labelled "At vla"
    std::uint8_t tempCurrent = 0; // present temperature
};

extern const std::array<std::string_view, 5> SENSOR_NAME;

// The record carries the sensors in the order Front right, Front left, Rear exit, Sidelook,
// Chan. Open, five bytes each (big-endian gain, target, reading, status), then the temperature
// "At vla" and the present one.
void decodeSensors(const std::uint8_t* bytes, SensorsData& data);
void resetSensors(SensorsData& data);

} // namespace norvex::diagnostics
