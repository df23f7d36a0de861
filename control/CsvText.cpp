// SPDX-License-Identifier: GPL-3.0-or-later
#include "control/CsvText.h"

#include <string_view>

namespace norvex::control {

std::string csvText(const std::string& cell) {
    std::string text;
    text.reserve(cell.size() + 1);
    // A character at a time: GCC 12 with the sanitizers takes text = "'" for an overlapping
    // copy (a false -Wrestrict).
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos)
        text.push_back('\'');
    text.append(cell);
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace norvex::control
