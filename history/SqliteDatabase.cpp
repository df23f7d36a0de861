// SPDX-License-Identifier: GPL-3.0-or-later
// The embedded database: one SQLite file.

#include "history/Database.h"
#include "history/SqlDialect.h"

#include <charconv>
#include <chrono>
#include <filesystem>
#include <sqlite3.h>
#include <system_error>
#include <thread>
#include <unistd.h>

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
    case SQLITE_PROTOCOL:
        // The file cannot be written now (locked by another program, a failing disk): kept and
        // tried again later.
        return FaultKind::Unavailable;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return FaultKind::Denied;
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
    case SQLITE_SCHEMA:
        return FaultKind::Schema;
    case SQLITE_CONSTRAINT:
    case SQLITE_MISMATCH:
    case SQLITE_TOOBIG:
    case SQLITE_RANGE:
        return FaultKind::Rejected;
    default:
        return FaultKind::Invalid;
    }
}

class StatementCells final : public Cells {
public:
    explicit StatementCells(sqlite3_stmt* stmt) : stmt_(stmt) {}
    int count() const override { return sqlite3_column_count(stmt_); }
    bool null(int c) const override { return sqlite3_column_type(stmt_, c) == SQLITE_NULL; }
    std::string_view text(int c) const override {
        const int type = sqlite3_column_type(stmt_, c);
        if (type == SQLITE_NULL) return {};
        const void* p = type == SQLITE_BLOB ? sqlite3_column_blob(stmt_, c) : sqlite3_column_text(stmt_, c);
        const auto n = static_cast<std::size_t>(sqlite3_column_bytes(stmt_, c));
        return p ? std::string_view(static_cast<const char*>(p), n) : std::string_view();
    }
    double number(int c) const override {
        const int type = sqlite3_column_type(stmt_, c);
        if (type == SQLITE_INTEGER || type == SQLITE_FLOAT) return sqlite3_column_double(stmt_, c);
        const std::string_view t = text(c);
        double v = 0.0;
        std::from_chars(t.data(), t.data() + t.size(), v);
        return v;
    }

private:
    sqlite3_stmt* stmt_;
};

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
        return run(sql, params, fault, [&](sqlite3_stmt* stmt) {
            if (!rows) return;
            Row row;
            const int columns = sqlite3_column_count(stmt);
            row.reserve(static_cast<std::size_t>(columns));
            for (int c = 0; c < columns; ++c) {
                switch (sqlite3_column_type(stmt, c)) {
                case SQLITE_NULL:
                    row.emplace_back(std::nullopt);
                    break;
                case SQLITE_FLOAT: {
                    // Shortest text that reads back as the same double, whatever the locale.
                    char buf[32];
                    const auto r = std::to_chars(buf, buf + sizeof buf, sqlite3_column_double(stmt, c));
                    row.emplace_back(std::string(buf, r.ptr));
                    break;
                }
                default:
                    row.emplace_back(std::string(StatementCells(stmt).text(c)));
                    break;
                }
            }
            rows->push_back(std::move(row));
        });
    }

    bool each(const std::string& sql, const std::vector<Value>& params,
              const std::function<void(const Cells&)>& row, Fault& fault) override {
        return run(sql, params, fault, [&](sqlite3_stmt* stmt) { row(StatementCells(stmt)); });
    }

private:
    template <typename OnRow>
    bool run(const std::string& sql, const std::vector<Value>& params, Fault& fault, OnRow&& onRow) {
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
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            onRow(stmt);
        sqlite3_finalize(stmt);
        if (rc != SQLITE_DONE) return fail(rc, fault);
        fault = {};
        return true;
    }

    bool fail(int rc, Fault& fault) {
        fault.kind = kindOf(rc);
        fault.detail = sqlite3_errmsg(db_);
        return false;
    }

    sqlite3* db_;
};

} // namespace

std::unique_ptr<Database> openSqlite(const std::string& path, Fault& fault, bool create) {
    fault = {};
    const std::filesystem::path p(path);
    if (!create && ::access(path.c_str(), F_OK) != 0) {
        fault = {FaultKind::NoSchema, "no file " + path};
        return nullptr;
    }
    if (create && p.has_parent_path()) {
        std::error_code ec;
        std::filesystem::create_directories(p.parent_path(), ec);
    }
    sqlite3* db = nullptr;
    int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    if (rc != SQLITE_OK && !create) {
        // A history this user may read but not write.
        sqlite3_close_v2(db);
        db = nullptr;
        flags = SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX;
        rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
    }
    if (rc != SQLITE_OK) {
        const FaultKind kind = kindOf(rc);
        fault.kind =
            kind == FaultKind::Invalid || kind == FaultKind::Rejected ? FaultKind::Unavailable : kind;
        fault.detail = "cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        sqlite3_close_v2(db);
        return nullptr;
    }
    // Several programs (a window and a batch run) may share one file: a writer waits its turn,
    // a few seconds at most.
    sqlite3_busy_timeout(db, 5000);
    sqlite3_extended_result_codes(db, 0);
    auto out = std::make_unique<SqliteDatabase>(db);
    // Foreign keys are checked as PostgreSQL checks them; the journal in WAL mode lets a reader
    // look at the history while another program stores.
    if (!out->exec("PRAGMA foreign_keys = ON", fault)) return nullptr;
    // A file opened only if it is there is not changed (it is in WAL mode when this program
    // made it).
    if (create) {
        // Another program switching a new file to WAL at the same moment holds it without
        // waiting on the busy handler: asked again, for as long as a writer would wait.
        std::vector<Row> rows;
        bool switched = false;
        for (int attempt = 0; attempt < 100 && !switched; ++attempt) {
            switched = out->exec("PRAGMA journal_mode = WAL", {}, &rows, fault);
            if (!switched && fault.kind != FaultKind::Unavailable) break;
            if (!switched) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (!switched) {
            fault.detail = "cannot open " + path + ": " + fault.detail;
            return nullptr;
        }
    }
    return out;
}

} // namespace norvex::history
