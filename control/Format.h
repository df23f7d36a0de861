// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// printf-style text for the screen and the batch output. Only integer and text conversions are
// used with it, so the process locale cannot change what it writes.

#include <string>

namespace norvex::control {

[[gnu::format(printf, 1, 2)]] std::string format(const char* fmt, ...);

} // namespace norvex::control
