// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Database.h"

#include <charconv>

namespace norvex::history {

FaultKind faultKindOfSqlState(const std::string& s) {
    auto is = [&](const char* prefix) { return s.rfind(prefix, 0) == 0; };
    if (is("53100")) return FaultKind::Full; // disk full
    // The connection, the server's resources, an operator or a time-out (57014, a statement
    // time-out), a lock not granted in time (55P03), a conflict with another session (class
    // 40: serialization failure, deadlock), a failing server (58, XX): another time.
    if (is("08") || is("53") || is("57") || is("55P03") || is("40") || is("58") || is("XX"))
        return FaultKind::Unavailable;
    if (is("42501") || is("25006") || is("28")) return FaultKind::Denied;
    if (is("42P01") || is("3F000")) return FaultKind::NoSchema; // no such table, no such schema
    if (is("42703") || is("42804")) return FaultKind::Schema;   // a column missing or of another type
    // The data itself: a value the column cannot hold (22), a constraint it breaks (23), a
    // program limit it exceeds (54).
    if (is("22") || is("23") || is("54")) return FaultKind::Rejected;
    return FaultKind::Invalid;
}

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
