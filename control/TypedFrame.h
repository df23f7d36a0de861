// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A frame typed by the technician as hex: read, checked to be a bill-validator command of its
// known length, and completed with its checksum unless it was given. Pure; no I/O.

#include "link/LinkTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvex::control {

struct TypedFrame {
    std::array<std::uint8_t, link::TX_SLOT_SIZE> bytes{};
    std::size_t length = 0;
};

// "33", "33 33", "3433FF0000" ... Spaces between bytes are optional; each byte is two hex digits.
// False with the reason for anything that is not a bill-validator frame (address 0x30..0x37)
// of its command's length, or whose given checksum is wrong.
bool parseTypedFrame(const std::string& text, TypedFrame& frame, std::string& reason);

} // namespace norvex::control
