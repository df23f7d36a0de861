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

// CRC-16/CCITT-FALSE (polynomial 0x1021, start value 0xFFFF, no reflection, no final xor).
std::uint16_t crc16Ccitt(std::span<const std::uint8_t> bytes, std::uint16_t start = 0xFFFF);

} // namespace norvex::sim
