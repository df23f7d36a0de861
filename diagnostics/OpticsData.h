// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main optics settings: white and black levels, gains and emitter values of every optical
// channel in every colour. Tables are indexed [channel 0..6][colour 0..3].

#include "diagnostics/OpticChannels.h"

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvex::diagnostics {

inline constexpr std::size_t OPTICS_DATA_BYTES = 336;

template <typename T> using OpticTable = std::array<std::array<T, OPTIC_COLOURS>, OPTIC_CHANNELS>;

struct OpticsData {
    OpticTable<std::uint8_t> reflWhite{}, transWhite{}, reflBlack{}, transBlack{};
    OpticTable<std::uint16_t> transGain{}, reflGain{};
    OpticTable<std::uint8_t> transEmitter{}, reflEmitter{};
    int selectedColour = COLOUR_RED; // the colour the page shows
};

// Eight blocks of 28 items, item 4 x channel + colour: reflective and transmissive white, then
// black levels (bytes); transmissive and reflective gains (big-endian 16-bit); transmissive and
// reflective emitters (byte pairs of which only the second byte counts).
// Leaves selectedColour as it is.
void decodeOptics(const std::uint8_t* bytes, OpticsData& data);
// Zeroes every table and selects red.
void resetOptics(OpticsData& data);

} // namespace norvex::diagnostics
