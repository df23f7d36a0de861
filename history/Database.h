#pragma once
// One connection to a database, SQLite or PostgreSQL, behind the same small interface: a
// statement with numbered parameters ($1, $2, ...) and rows of text cells back. The SQL is the
// same for both; SqlDialect.h holds the few differences.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace norvex::history {

// Why an operation failed. Unavailable and Full are passing conditions (a lost server, a full
// disk): what could not be stored is kept and sent later. The others are not.
enum class FaultKind {
    None,
    Unavailable, // cannot connect, or the connection was lost
    Full,        // no room left (disk full, quota)
    Schema,      // the database holds a newer or foreign schema
    Invalid,     // bad URL, bad input, a statement the database refused
};

struct Fault {
    FaultKind kind = FaultKind::None;
    std::string detail;
    explicit operator bool() const { return kind != FaultKind::None; }
};

// Bytes as stored in a BLOB / BYTEA column.
struct Blob {
    std::vector<std::uint8_t> bytes;
};

using Value = std::variant<std::nullptr_t, std::int64_t, double, std::string, Blob>;

// A cell as text; a BLOB column gives its raw bytes. nullopt is SQL NULL.
using Row = std::vector<std::optional<std::string>>;

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

    // Convenience: a statement without parameters or rows.
    [[nodiscard]] bool exec(const std::string& sql, Fault& fault) { return exec(sql, {}, nullptr, fault); }
};

// Opens a SQLite file (created with its folder when missing).
std::unique_ptr<Database> openSqlite(const std::string& path, Fault& fault);
// Connects to PostgreSQL with a libpq conninfo string or URI. A server that does not answer
// still gives a database (with the fault set) that connects at its next use; null only for a
// URL that can never work.
std::unique_ptr<Database> openPostgres(const std::string& conninfo, Fault& fault);

// Cell helpers: an integer or a number from a text cell (0 for NULL or garbage), locale-free.
std::int64_t cellInt(const std::optional<std::string>& cell);
double cellDouble(const std::optional<std::string>& cell);
std::vector<std::uint8_t> cellBytes(const std::optional<std::string>& cell);

} // namespace norvex::history
