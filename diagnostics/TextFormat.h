// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Number texts for the pages and the report, independent of the process locale: the Qt binding
// sets the user's locale, and a report must read "50.58", never "50,58".

#include <cstdint>
#include <string>

namespace norvex::diagnostics {

// Decimal digits, zero-padded to at least minDigits ("%d", "%02d", "%03d").
std::string decimal(std::uint64_t value, int minDigits = 1);
// Upper-case hexadecimal digits, zero-padded to at least minDigits ("%03X", "%04X").
std::string hexUpper(std::uint64_t value, int minDigits);
// Fixed point with two decimals, rounded as printf rounds, blank-padded on the left to at least
// minWidth characters ("%5.2f").
std::string fixedTwo(double value, int minWidth);

} // namespace norvex::diagnostics
