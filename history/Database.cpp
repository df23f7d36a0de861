#include "history/Database.h"

#include <charconv>

namespace norvex::history {

std::int64_t cellInt(const std::optional<std::string>& cell) {
    if (!cell) return 0;
    std::int64_t v = 0;
    std::from_chars(cell->data(), cell->data() + cell->size(), v);
    return v;
}

double cellDouble(const std::optional<std::string>& cell) {
    if (!cell) return 0.0;
    double v = 0.0;
    std::from_chars(cell->data(), cell->data() + cell->size(), v);
    return v;
}

std::vector<std::uint8_t> cellBytes(const std::optional<std::string>& cell) {
    if (!cell) return {};
    return std::vector<std::uint8_t>(cell->begin(), cell->end());
}

} // namespace norvex::history
