// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace norvex::sim {

using Bytes = std::vector<std::uint8_t>;

// Low 8 bits of the sum of all bytes given.
std::uint8_t mdbChecksum(std::span<const std::uint8_t> bytes);

// Appends the MDB checksum of everything already in the buffer.
void appendChecksum(Bytes& bytes);

// "33 33": upper-case hexadecimal, one blank between bytes.
std::string toHex(std::span<const std::uint8_t> bytes);

// One byte written as one or two hexadecimal digits ("6", "06", "0x06"); nullopt otherwise.
std::optional<std::uint8_t> parseHexByte(std::string_view text);

// Splits a line into blank-separated words.
std::vector<std::string> splitWords(std::string_view line);

// The input flags of a terminal that decide how a driver delivers a byte received with a parity
// or framing error: INPCK (check), IGNPAR (ignore) and PARMRK (mark).
struct InputFlags {
    bool check = false;
    bool ignore = false;
    bool mark = false;
};

// What a driver that reports errors per byte hands its reader for one MDB byte, where a mode bit
// of 0 arrives as a parity error (mark parity) or a framing error (two stop bits): unchecked, the
// byte; ignored, nothing; marked, FF 00 byte; otherwise 00. A byte with mode bit 1 comes as
// itself, an FF doubled when errors are marked.
Bytes deliveredForm(std::uint8_t byte, bool modeBit, const InputFlags& input);

// CRC-16/CCITT-FALSE (polynomial 0x1021, start value 0xFFFF, no reflection, no final xor).
std::uint16_t crc16Ccitt(std::span<const std::uint8_t> bytes, std::uint16_t start = 0xFFFF);

} // namespace norvex::sim
