// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The only place where SQLite and PostgreSQL differ in what we send them: the statements are
// written once, in PostgreSQL's spelling of parameters ($1) and with the column type BLOB, and
// adapted here.

#include "history/Database.h"

#include <string>

namespace norvex::history {

// SQLite: "$n" becomes "?n" (numbered exactly as written). PostgreSQL: "BLOB" becomes "BYTEA".
std::string adaptSql(Dialect dialect, const std::string& sql);

} // namespace norvex::history

namespace norvex::history {

// Counts the tables of the given name ($1) in the database's current schema.
const char* tableExistsSql(Dialect dialect);
// Ends the CREATE TABLE of a table keyed by its primary key alone: SQLite then keeps the rows
// in that key's order (WITHOUT ROWID), which halves the time to look a unit's values up.
const char* keyedTableSuffix(Dialect dialect);
// Starts a write transaction (SQLite takes the write lock at once, so two writers never
// deadlock upgrading a read lock).
const char* beginSql(Dialect dialect);

} // namespace norvex::history
