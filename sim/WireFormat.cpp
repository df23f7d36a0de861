// SPDX-License-Identifier: GPL-3.0-or-later
#include "WireFormat.h"

namespace norvex::sim {

std::uint8_t mdbChecksum(std::span<const std::uint8_t> bytes) {
    unsigned sum = 0;
    for (auto b : bytes)
        sum += b;
    return static_cast<std::uint8_t>(sum & 0xFF);
}

void appendChecksum(Bytes& bytes) {
    bytes.push_back(mdbChecksum(bytes));
}

Bytes deliveredForm(std::uint8_t byte, bool modeBit, const InputFlags& input) {
    if (!modeBit && input.check) {
        if (input.ignore) return {};
        if (input.mark) return {0xFF, 0x00, byte};
        return {0x00};
    }
    if (byte == 0xFF && input.mark) return {0xFF, 0xFF};
    return {byte};
}

std::string toHex(std::span<const std::uint8_t> bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (auto b : bytes) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0F]);
    }
    return out;
}

std::optional<std::uint8_t> parseHexByte(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text.remove_prefix(2);
    if (text.empty() || text.size() > 2) return std::nullopt;
    unsigned value = 0;
    for (char c : text) {
        unsigned d;
        if (c >= '0' && c <= '9')
            d = static_cast<unsigned>(c - '0');
        else if (c >= 'a' && c <= 'f')
            d = static_cast<unsigned>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            d = static_cast<unsigned>(c - 'A' + 10);
        else
            return std::nullopt;
        value = value * 16 + d;
    }
    return static_cast<std::uint8_t>(value);
}

std::vector<std::string> splitWords(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
            ++i;
        std::size_t start = i;
        while (i < line.size() && !(line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
            ++i;
        if (i > start) words.emplace_back(line.substr(start, i - start));
    }
    return words;
}

std::uint16_t crc16Ccitt(std::span<const std::uint8_t> bytes, std::uint16_t start) {
    std::uint16_t crc = start;
    for (auto b : bytes) {
        crc = static_cast<std::uint16_t>(crc ^ (static_cast<std::uint16_t>(b) << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

} // namespace norvex::sim
