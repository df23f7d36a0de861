// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the commands of a vending machine's controller look like on the bus, for framing a line
// that shows no mode bit: the peripheral's address in the first byte, and the lengths a command
// may have. Pure tables; no I/O.

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvex::link {

// Peripheral addresses: the top five bits of a command's first byte.
inline constexpr std::uint8_t ADDRESS_COIN_CHANGER = 0x08;
inline constexpr std::uint8_t ADDRESS_CASHLESS_1 = 0x10;
inline constexpr std::uint8_t ADDRESS_GATEWAY = 0x18;
inline constexpr std::uint8_t ADDRESS_BILL_VALIDATOR = 0x30;
inline constexpr std::uint8_t ADDRESS_CASHLESS_2 = 0x60;

// The controller's answers to a peripheral's data: ACK, RET (send it again) and NAK.
inline constexpr std::uint8_t MDB_ACK = 0x00;
inline constexpr std::uint8_t MDB_RET = 0xAA;
inline constexpr std::uint8_t MDB_NAK = 0xFF;

constexpr std::uint8_t addressOf(std::uint8_t firstByte) {
    return static_cast<std::uint8_t>(firstByte & 0xF8);
}

// Every peripheral's command 0 is its RESET.
constexpr bool isResetCommand(std::uint8_t firstByte) {
    return (firstByte & 0x07) == 0 && addressOf(firstByte) != 0;
}

// POLL is command 2 of the cashless devices and the communications gateway, command 3 of the
// others.
constexpr bool isPollCommand(std::uint8_t firstByte) {
    const std::uint8_t a = addressOf(firstByte);
    const bool two = a == ADDRESS_CASHLESS_1 || a == ADDRESS_CASHLESS_2 || a == ADDRESS_GATEWAY;
    return (firstByte & 0x07) == (two ? 2 : 3);
}

// The lengths (checksum included) that a command starting with the given bytes may have.
struct CommandLengths {
    // Known lengths, shortest first: one, or two where a level-3 device sends a longer form.
    std::array<std::uint8_t, 2> lengths{};
    std::uint8_t count = 0;  // 0: not known (another device, the diagnostics and file transfer
                             // sub-commands): the command ends on its checksum and what follows
    bool needSecond = false; // the sub-command in the second byte decides; it has not come yet

    std::uint8_t longest() const { return count == 0 ? 0 : lengths[count - 1u]; }
    bool allows(std::size_t length) const {
        for (std::uint8_t i = 0; i < count; ++i)
            if (lengths[i] == length) return true;
        return false;
    }
};

CommandLengths commandLengths(const std::uint8_t* bytes, std::size_t n);

// The checksum rule: the last byte is the low 8 bits of the sum of those before it.
bool checksumHolds(const std::uint8_t* bytes, std::size_t n);

} // namespace norvex::link
