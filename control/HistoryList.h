// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A short history of codes with their texts, oldest first. Eight slots; once they are full,
// every new entry scrolls the oldest one out. A code of 0 marks an empty slot.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace norvex::control {

class HistoryList {
public:
    static constexpr int SIZE = 8;

    std::array<std::uint8_t, SIZE> codes{};
    std::array<std::string, SIZE> texts{};
    int position = 0; // the slot the next entry goes to, 0..7
    bool full = false;

    void add(std::uint8_t code, std::string_view text);
    void clear();

    // Number of entries held, 0..8.
    int size() const { return full ? SIZE : position; }
};

} // namespace norvex::control
