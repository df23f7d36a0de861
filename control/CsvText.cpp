#include "control/CsvText.h"

#include <string_view>

namespace norvex::control {

std::string csvText(const std::string& cell) {
    std::string text;
    if (!cell.empty() && std::string_view("=+-@\t\r").find(cell.front()) != std::string_view::npos)
        text = "'";
    text += cell;
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

} // namespace norvex::control
