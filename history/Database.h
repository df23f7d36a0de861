// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One connection to a database, SQLite or PostgreSQL, behind the same small interface: a
// statement with numbered parameters ($1, $2, ...) and rows of text cells back. The SQL is the
// same for both; SqlDialect.h holds the few differences.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace norvex::history {

// Why an operation failed. Every kind but Rejected is about the history, not the reading: what
// could not be stored is kept on this computer and sent later.
enum class FaultKind {
    None,
    Unavailable, // cannot connect, the connection was lost, a time-out, a lock, a conflict to retry
    Full,        // no room left (disk full, quota)
    Denied,      // this user may not write there (privileges, a read-only database, file permissions)
    NoSchema,    // the history has not been set up (or not for this program's version yet)
    Schema,      // the database holds a newer, foreign or damaged schema
    Untrusted,   // the server's certificate does not verify (sslmode=verify-ca / verify-full)
    Invalid,     // a URL that cannot work, or a failure of no known kind
    Rejected,    // the history refused the reading's content itself: keeping it would not help
};

struct Fault {
    FaultKind kind = FaultKind::None;
    std::string detail;
    explicit operator bool() const { return kind != FaultKind::None; }
};

// A reading stays on this computer after every fault but Rejected.
inline bool keepsReading(FaultKind kind) {
    return kind != FaultKind::None && kind != FaultKind::Rejected;
}

// The kind of a PostgreSQL error by its SQLSTATE code ("08006", "42501", ...).
FaultKind faultKindOfSqlState(const std::string& sqlState);

// Bytes as stored in a BLOB / BYTEA column.
struct Blob {
    std::vector<std::uint8_t> bytes;
};

using Value = std::variant<std::nullptr_t, std::int64_t, double, std::string, Blob>;

// A cell as text; a BLOB column gives its raw bytes. nullopt is SQL NULL.
using Row = std::vector<std::optional<std::string>>;

// One row of a result as it streams past: valid only during the call that hands it over.
class Cells {
public:
    virtual ~Cells() = default;
    virtual int count() const = 0;
    virtual bool null(int column) const = 0;
    // The text of the cell (a BLOB's raw bytes); empty for NULL.
    virtual std::string_view text(int column) const = 0;
    // The cell as a number (0 for NULL or text that is not one).
    virtual double number(int column) const = 0;
};

enum class Dialect { Sqlite, Postgres };

class Database {
public:
    virtual ~Database() = default;
    virtual Dialect dialect() const = 0;
    // Runs one statement (written with $n parameters); the rows it returns go into rows when
    // given. False with the fault filled in when it fails.
    [[nodiscard]] virtual bool exec(const std::string& sql, const std::vector<Value>& params,
                                    std::vector<Row>* rows, Fault& fault) = 0;
    // True while the connection can be used (PostgreSQL: the session is up).
    virtual bool connected() const = 0;
    // PostgreSQL connects again after a lost session; SQLite has nothing to do.
    [[nodiscard]] virtual bool reconnect(Fault& fault) = 0;

    // Runs one statement and hands its rows over one at a time, without holding the whole
    // result in memory.
    [[nodiscard]] virtual bool each(const std::string& sql, const std::vector<Value>& params,
                                    const std::function<void(const Cells&)>& row, Fault& fault) = 0;

    // Convenience: a statement without parameters or rows.
    [[nodiscard]] bool exec(const std::string& sql, Fault& fault) { return exec(sql, {}, nullptr, fault); }
};

// Opens a SQLite file; `create`: the file (and its folder) is made when missing. Without it a
// missing file is a NoSchema fault, and a file this user may only read is opened read-only.
std::unique_ptr<Database> openSqlite(const std::string& path, Fault& fault, bool create = true);

// How long a statement may take on a PostgreSQL server before it is given up (a lock held by
// another session, a server that stopped answering); 0 for no limit (setting a history up).
inline constexpr int STATEMENT_TIMEOUT_MS = 5000;
inline constexpr int LOCK_TIMEOUT_MS = 3000;
// Connects to PostgreSQL with a libpq URI. A server that does not answer still gives a
// database (with the fault set) that connects at its next use; null only for a URL that can
// never work. Messages never show the URL's password.
std::unique_ptr<Database> openPostgres(const std::string& conninfo, Fault& fault,
                                       int statementTimeoutMs = STATEMENT_TIMEOUT_MS);

// Cell helpers: an integer or a number from a text cell (0 for NULL or garbage), locale-free.
std::int64_t cellInt(const std::optional<std::string>& cell);
double cellDouble(const std::optional<std::string>& cell);
std::vector<std::uint8_t> cellBytes(const std::optional<std::string>& cell);

} // namespace norvex::history
