// A shared history on a PostgreSQL server, through libpq.

#include "history/Database.h"
#include "history/SqlDialect.h"

#include <charconv>
#include <libpq-fe.h>

namespace norvex::history {

namespace {

constexpr unsigned BYTEA_OID = 17;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
}

// BYTEA in the text format: "\x" and two hexadecimal digits per byte.
std::string decodeBytea(const char* text, int length) {
    std::string out;
    if (length >= 2 && text[0] == '\\' && text[1] == 'x') {
        out.reserve(static_cast<std::size_t>(length - 2) / 2);
        for (int i = 2; i + 1 < length; i += 2)
            out += static_cast<char>(hexDigit(text[i]) * 16 + hexDigit(text[i + 1]));
        return out;
    }
    return std::string(text, static_cast<std::size_t>(length));
}

FaultKind kindOfState(const char* sqlState) {
    const std::string s = sqlState ? sqlState : "";
    if (s.rfind("08", 0) == 0 || s.rfind("57P", 0) == 0) return FaultKind::Unavailable;
    if (s.rfind("53", 0) == 0) return FaultKind::Full; // disk full, out of memory, too many connections
    return FaultKind::Invalid;
}

void quiet(void*, const char*) {}

std::string firstLine(const char* message) {
    std::string s = message ? message : "";
    if (const auto nl = s.find('\n'); nl != std::string::npos) s.resize(nl);
    return s;
}

class PostgresDatabase final : public Database {
public:
    explicit PostgresDatabase(std::string conninfo) : conninfo_(std::move(conninfo)) {}
    ~PostgresDatabase() override {
        if (conn_) PQfinish(conn_);
    }
    PostgresDatabase(const PostgresDatabase&) = delete;
    PostgresDatabase& operator=(const PostgresDatabase&) = delete;

    using Database::exec;
    Dialect dialect() const override { return Dialect::Postgres; }
    bool connected() const override { return conn_ && PQstatus(conn_) == CONNECTION_OK; }

    bool reconnect(Fault& fault) override {
        if (conn_) PQfinish(conn_);
        // A server that does not answer is given up after a few seconds (the URL may say
        // otherwise): the program goes on without it.
        const char* keys[] = {"connect_timeout", "dbname", nullptr};
        const char* values[] = {"5", conninfo_.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            fault.kind = conn_ ? FaultKind::Unavailable : FaultKind::Invalid;
            fault.detail = conn_ ? firstLine(PQerrorMessage(conn_)) : "out of memory";
            if (fault.detail.find("invalid") != std::string::npos ||
                fault.detail.find("missing") != std::string::npos)
                fault.kind = FaultKind::Invalid;
            return false;
        }
        PQsetNoticeProcessor(conn_, quiet, nullptr);
        fault = {};
        return true;
    }

    bool exec(const std::string& sql, const std::vector<Value>& params, std::vector<Row>* rows,
              Fault& fault) override {
        if (!connected() && !reconnect(fault)) return false;
        const std::string text = adaptSql(Dialect::Postgres, sql);
        std::vector<std::string> storage(params.size());
        std::vector<const char*> values(params.size());
        std::vector<int> lengths(params.size()), formats(params.size());
        for (std::size_t i = 0; i < params.size(); ++i) {
            const Value& v = params[i];
            if (std::holds_alternative<std::nullptr_t>(v)) {
                values[i] = nullptr;
                continue;
            }
            if (const auto* k = std::get_if<std::int64_t>(&v)) {
                storage[i] = std::to_string(*k);
            } else if (const auto* d = std::get_if<double>(&v)) {
                char buf[32];
                const auto r = std::to_chars(buf, buf + sizeof buf, *d);
                storage[i].assign(buf, r.ptr);
            } else if (const auto* s = std::get_if<std::string>(&v)) {
                storage[i] = *s;
            } else {
                const auto& b = std::get<Blob>(v).bytes;
                storage[i].assign(b.begin(), b.end());
                formats[i] = 1; // bytes as they are
            }
            values[i] = storage[i].data();
            lengths[i] = static_cast<int>(storage[i].size());
        }
        PGresult* res = PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr,
                                     values.data(), lengths.data(), formats.data(), 0);
        const ExecStatusType status = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            if (!connected()) {
                fault.kind = FaultKind::Unavailable;
                fault.detail = firstLine(PQerrorMessage(conn_));
            } else {
                fault.kind = kindOfState(res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr);
                fault.detail = firstLine(res ? PQresultErrorMessage(res) : PQerrorMessage(conn_));
            }
            if (res) PQclear(res);
            return false;
        }
        if (rows) {
            const int n = PQntuples(res), columns = PQnfields(res);
            for (int r = 0; r < n; ++r) {
                Row row;
                for (int c = 0; c < columns; ++c) {
                    if (PQgetisnull(res, r, c)) {
                        row.emplace_back(std::nullopt);
                    } else if (PQftype(res, c) == BYTEA_OID) {
                        row.emplace_back(decodeBytea(PQgetvalue(res, r, c), PQgetlength(res, r, c)));
                    } else {
                        row.emplace_back(std::string(PQgetvalue(res, r, c),
                                                     static_cast<std::size_t>(PQgetlength(res, r, c))));
                    }
                }
                rows->push_back(std::move(row));
            }
        }
        PQclear(res);
        fault = {};
        return true;
    }

private:
    std::string conninfo_;
    PGconn* conn_ = nullptr;
};

} // namespace

std::unique_ptr<Database> openPostgres(const std::string& conninfo, Fault& fault) {
    // A server that is down now is tried again at the next statement; only a URL that can
    // never work gives no database.
    auto db = std::make_unique<PostgresDatabase>(conninfo);
    if (!db->reconnect(fault) && fault.kind == FaultKind::Invalid) return nullptr;
    return db;
}

} // namespace norvex::history
