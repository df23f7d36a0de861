// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/TextFormat.h"

#include <charconv>
#include <system_error>

namespace norvex::diagnostics {

namespace {

std::string padded(const char* first, const char* last, int minWidth, char pad) {
    std::string text(first, last);
    if (static_cast<int>(text.size()) < minWidth) text.insert(0, minWidth - text.size(), pad);
    return text;
}

} // namespace

std::string decimal(std::uint64_t value, int minDigits) {
    char buf[24];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    (void)ec; // 24 characters hold every 64-bit value
    return padded(buf, end, minDigits, '0');
}

std::string hexUpper(std::uint64_t value, int minDigits) {
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    char buf[16];
    char* p = buf + sizeof buf;
    do {
        *--p = HEX_DIGITS[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return padded(p, buf + sizeof buf, minDigits, '0');
}

std::string fixedTwo(double value, int minWidth) {
    char buf[400]; // wide enough for any finite double in fixed notation
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 2);
    if (ec != std::errc{}) return padded(buf, buf, minWidth, ' ');
    return padded(buf, end, minWidth, ' ');
}

} // namespace norvex::diagnostics
