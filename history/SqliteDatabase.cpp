// The embedded database: one SQLite file.

#include "history/Database.h"
#include "history/SqlDialect.h"

#include <charconv>
#include <filesystem>
#include <sqlite3.h>
#include <system_error>

namespace norvex::history {

namespace {

FaultKind kindOf(int code) {
    switch (code & 0xFF) {
    case SQLITE_FULL:
        return FaultKind::Full;
    case SQLITE_IOERR:
    case SQLITE_CANTOPEN:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_READONLY:
    case SQLITE_PERM:
        // The file cannot be written now (locked, a read-only mount, a failing disk): kept and
        // tried again later.
        return FaultKind::Unavailable;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return FaultKind::Schema;
    default:
        return FaultKind::Invalid;
    }
}

class SqliteDatabase final : public Database {
public:
    explicit SqliteDatabase(sqlite3* db) : db_(db) {}
    ~SqliteDatabase() override { sqlite3_close_v2(db_); }
    SqliteDatabase(const SqliteDatabase&) = delete;
    SqliteDatabase& operator=(const SqliteDatabase&) = delete;

    using Database::exec;
    Dialect dialect() const override { return Dialect::Sqlite; }
    bool connected() const override { return true; }
    bool reconnect(Fault&) override { return true; }

    bool exec(const std::string& sql, const std::vector<Value>& params, std::vector<Row>* rows,
              Fault& fault) override {
        const std::string text = adaptSql(Dialect::Sqlite, sql);
        sqlite3_stmt* stmt = nullptr;
        int rc = sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &stmt, nullptr);
        if (rc != SQLITE_OK) return fail(rc, fault);
        for (std::size_t i = 0; i < params.size() && rc == SQLITE_OK; ++i) {
            const int n = static_cast<int>(i + 1);
            const Value& v = params[i];
            if (std::holds_alternative<std::nullptr_t>(v))
                rc = sqlite3_bind_null(stmt, n);
            else if (const auto* k = std::get_if<std::int64_t>(&v))
                rc = sqlite3_bind_int64(stmt, n, *k);
            else if (const auto* d = std::get_if<double>(&v))
                rc = sqlite3_bind_double(stmt, n, *d);
            else if (const auto* s = std::get_if<std::string>(&v))
                rc = sqlite3_bind_text(stmt, n, s->data(), static_cast<int>(s->size()), SQLITE_TRANSIENT);
            else {
                const auto& b = std::get<Blob>(v).bytes;
                rc = sqlite3_bind_blob(stmt, n, b.data(), static_cast<int>(b.size()), SQLITE_TRANSIENT);
            }
        }
        if (rc != SQLITE_OK) {
            sqlite3_finalize(stmt);
            return fail(rc, fault);
        }
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
            if (!rows) continue;
            Row row;
            const int columns = sqlite3_column_count(stmt);
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL:
                    row.emplace_back(std::nullopt);
                    break;
                case SQLITE_BLOB: {
                    const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, c));
                    row.emplace_back(
                        std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
                    break;
                }
                case SQLITE_FLOAT: {
                    // Shortest text that reads back as the same double, whatever the locale.
                    char buf[32];
                    const auto r = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(stmt, c));
                    row.emplace_back(std::string(buf, r.ptr));
                    break;
                }
                default: {
                    const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                    row.emplace_back(
                        std::string(p ? p : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, c))));
                    break;
                }
                }
            }
            rows->push_back(std::move(row));
        }
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) return fail(rc, fault);
        fault = {};
        return true;
    }

private:
    bool fail(int rc, Fault& fault) {
        fault.kind = kindOf(rc);
        fault.detail = sqlite3_errmsg(db_);
        return false;
    }

    sqlite3* db_;
};

} // namespace

std::unique_ptr<Database> openSqlite(const std::string& path, Fault& fault) {
    fault = {};
    const std::filesystem::path p(path);
    if (p.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(p.parent_path(), ec);
    }
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        fault.kind = kindOf(rc) == FaultKind::Invalid ? FaultKind::Unavailable : kindOf(rc);
        fault.detail = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return nullptr;
    }
    // Several programs (a window and a batch run) may share one file: a writer waits its turn.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 0);
    auto out = std::make_unique<SqliteDatabase>(db);
    // Foreign keys are checked as PostgreSQL checks them; the journal in WAL mode lets a reader
    // look at the history while another program stores.
    if (!out->exec("PRAGMA foreign_keys = ON", fault)) return nullptr;
    std::vector<Row> rows;
    if (!out->exec("PRAGMA journal_mode = WAL", {}, &rows, fault)) {
        fault.detail = "cannot open " + path + ": " + fault.detail;
        return nullptr;
    }
    return out;
}

} // namespace norvex::history
