// SPDX-License-Identifier: GPL-3.0-or-later
// A shared history on a PostgreSQL server, through libpq.

#include "history/Database.h"
#include "history/HistoryUrl.h"
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

void quiet(void*, const char*) {}

std::string firstLine(const char* message) {
    std::string s = message ? message : "";
    if (const auto nl = s.find('\n'); nl != std::string::npos) s.resize(nl);
    return s;
}

// Why a connection could not be made, by what libpq said.
FaultKind kindOfConnectFailure(const std::string& message) {
    auto says = [&](const char* what) { return message.find(what) != std::string::npos; };
    // sslmode=verify-ca / verify-full: the server is there but does not prove who it is.
    if (says("certificate") || says("SSL error:") || says("does not support SSL"))
        return FaultKind::Untrusted;
    if (says("password authentication failed") || says("no pg_hba.conf entry") ||
        (says("role \"") && says("does not exist")))
        return FaultKind::Denied;
    return FaultKind::Unavailable;
}

// A URL libpq would take apart wrongly, or not at all. libpq's own message about it repeats
// the URL (password included), so it is not passed on.
bool checkUri(const std::string& conninfo, std::string& error) {
    char* parseError = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &parseError);
    if (!options) {
        error =
            "the URL " + displayUrl(conninfo) + " cannot be read: " +
            (parseError ? withoutSecrets(firstLine(parseError), conninfo) : std::string("out of memory")) +
            " (a name or password holding @ : / ? # % or a space is written percent-encoded, "
            "@ as %40)";
        PQfreemem(parseError);
        return false;
    }
    bool ok = true;
    for (PQconninfoOption* o = options; o->keyword; ++o) {
        // "user:pa@ss@host" leaves the rest of the password in the host name.
        if (o->val && std::string(o->keyword) == "host" &&
            std::string(o->val).find('@') != std::string::npos) {
            error = "the URL " + displayUrl(conninfo) +
                    " has a bare @ in its user part: write it percent-encoded (%40)";
            ok = false;
        }
    }
    PQconninfoFree(options);
    return ok;
}

class ResultCells final : public Cells {
public:
    explicit ResultCells(const PGresult* res) : res_(res) {}
    int count() const override { return PQnfields(res_); }
    bool null(int c) const override { return PQgetisnull(res_, 0, c) != 0; }
    std::string_view text(int c) const override {
        if (null(c)) return {};
        if (PQftype(res_, c) == BYTEA_OID) {
            decoded_ = decodeBytea(PQgetvalue(res_, 0, c), PQgetlength(res_, 0, c));
            return decoded_;
        }
        return std::string_view(PQgetvalue(res_, 0, c), static_cast<std::size_t>(PQgetlength(res_, 0, c)));
    }
    double number(int c) const override {
        if (null(c)) return 0.0;
        const char* p = PQgetvalue(res_, 0, c);
        double v = 0.0;
        std::from_chars(p, p + PQgetlength(res_, 0, c), v);
        return v;
    }

private:
    const PGresult* res_;
    mutable std::string decoded_;
};

class PostgresDatabase final : public Database {
public:
    PostgresDatabase(std::string conninfo, int statementTimeoutMs)
        : conninfo_(std::move(conninfo)), statementTimeoutMs_(statementTimeoutMs) {}
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
        conn_ = nullptr;
        std::string error;
        if (!checkUri(conninfo_, error)) {
            fault = {FaultKind::Invalid, error};
            return false;
        }
        // A server that does not answer is given up after a few seconds, and a connection that
        // stops answering is noticed by the keep-alives (the URL may say otherwise: its values
        // come after these).
        const char* keys[] = {"connect_timeout",     "keepalives",       "keepalives_idle",
                              "keepalives_interval", "keepalives_count", "tcp_user_timeout",
                              "application_name",    "dbname",           nullptr};
        const char* values[] = {"5", "1", "5", "2", "2", "10000", "norvex", conninfo_.c_str(), nullptr};
        conn_ = PQconnectdbParams(keys, values, 1);
        if (!conn_ || PQstatus(conn_) != CONNECTION_OK) {
            const std::string message = conn_ ? firstLine(PQerrorMessage(conn_)) : "out of memory";
            fault = {conn_ ? kindOfConnectFailure(message) : FaultKind::Unavailable,
                     withoutSecrets(message, conninfo_)};
            return false;
        }
        PQsetNoticeProcessor(conn_, quiet, nullptr);
        // A lock held by another session or a statement that hangs is given up too.
        const std::string limits =
            "SET statement_timeout = " + std::to_string(statementTimeoutMs_) +
            "; SET lock_timeout = " + std::to_string(statementTimeoutMs_ > 0 ? LOCK_TIMEOUT_MS : 0);
        PGresult* res = PQexec(conn_, limits.c_str());
        const bool limited = res && PQresultStatus(res) == PGRES_COMMAND_OK;
        if (!limited) fault = failure(res);
        if (res) PQclear(res);
        if (!limited) return false;
        fault = {};
        return true;
    }

    bool exec(const std::string& sql, const std::vector<Value>& params, std::vector<Row>* rows,
              Fault& fault) override {
        if (!connected() && !reconnect(fault)) return false;
        Parameters p(params);
        const std::string text = adaptSql(Dialect::Postgres, sql);
        PGresult* res = PQexecParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr,
                                     p.values.data(), p.lengths.data(), p.formats.data(), 0);
        const ExecStatusType status = res ? PQresultStatus(res) : PGRES_FATAL_ERROR;
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            fault = failure(res);
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

    bool each(const std::string& sql, const std::vector<Value>& params,
              const std::function<void(const Cells&)>& row, Fault& fault) override {
        if (!connected() && !reconnect(fault)) return false;
        Parameters p(params);
        const std::string text = adaptSql(Dialect::Postgres, sql);
        if (!PQsendQueryParams(conn_, text.c_str(), static_cast<int>(params.size()), nullptr, p.values.data(),
                               p.lengths.data(), p.formats.data(), 0)) {
            fault = failure(nullptr);
            return false;
        }
        // One row at a time: a unit's whole history never sits in memory at once.
        PQsetSingleRowMode(conn_);
        bool ok = true;
        while (PGresult* res = PQgetResult(conn_)) {
            const ExecStatusType status = PQresultStatus(res);
            if (status == PGRES_SINGLE_TUPLE) {
                if (ok) row(ResultCells(res));
            } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && ok) {
                fault = failure(res);
                ok = false;
            }
            PQclear(res);
        }
        if (ok) fault = {};
        return ok;
    }

private:
    // The parameters as libpq takes them: text, and BLOBs as bytes.
    struct Parameters {
        explicit Parameters(const std::vector<Value>& params)
            : storage(params.size()), values(params.size()), lengths(params.size()), formats(params.size()) {
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
        }
        std::vector<std::string> storage;
        std::vector<const char*> values;
        std::vector<int> lengths, formats;
    };

    Fault failure(const PGresult* res) const {
        Fault fault;
        if (!connected()) {
            fault.kind = FaultKind::Unavailable;
            fault.detail = firstLine(conn_ ? PQerrorMessage(conn_) : "no connection");
        } else {
            const char* state = res ? PQresultErrorField(res, PG_DIAG_SQLSTATE) : nullptr;
            // The server's own sentence, without libpq's "ERROR:  " before it.
            const char* primary = res ? PQresultErrorField(res, PG_DIAG_MESSAGE_PRIMARY) : nullptr;
            fault.kind = faultKindOfSqlState(state ? state : "");
            fault.detail = firstLine(primary ? primary
                                     : res   ? PQresultErrorMessage(res)
                                             : PQerrorMessage(conn_));
        }
        fault.detail = withoutSecrets(fault.detail, conninfo_);
        return fault;
    }

    std::string conninfo_;
    int statementTimeoutMs_;
    PGconn* conn_ = nullptr;
};

} // namespace

std::unique_ptr<Database> openPostgres(const std::string& conninfo, Fault& fault, int statementTimeoutMs) {
    // A server that is down now is tried again at the next statement; only a URL that can
    // never work gives no database.
    auto db = std::make_unique<PostgresDatabase>(conninfo, statementTimeoutMs);
    if (!db->reconnect(fault) && fault.kind == FaultKind::Invalid) return nullptr;
    return db;
}

} // namespace norvex::history
