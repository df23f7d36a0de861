// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/SqlDialect.h"

namespace norvex::history {

std::string adaptSql(Dialect dialect, const std::string& sql) {
    std::string out;
    out.reserve(sql.size());
    for (std::size_t i = 0; i < sql.size(); ++i) {
        const char c = sql[i];
        if (dialect == Dialect::Sqlite && c == '$' && i + 1 < sql.size() && sql[i + 1] >= '0' &&
            sql[i + 1] <= '9') {
            out += '?';
            continue;
        }
        if (dialect == Dialect::Postgres && sql.compare(i, 4, "BLOB") == 0) {
            out += "BYTEA";
            i += 3;
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace norvex::history

namespace norvex::history {

const char* tableExistsSql(Dialect dialect) {
    return dialect == Dialect::Sqlite
               ? "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = $1"
               : "SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = current_schema() "
                 "AND table_name = $1";
}

const char* keyedTableSuffix(Dialect dialect) {
    return dialect == Dialect::Sqlite ? " WITHOUT ROWID" : "";
}

const char* beginSql(Dialect dialect) {
    return dialect == Dialect::Sqlite ? "BEGIN IMMEDIATE" : "BEGIN";
}

} // namespace norvex::history
