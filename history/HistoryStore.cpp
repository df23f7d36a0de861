// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryStore.h"

#include "history/ReadingRow.h"
#include "history/SqlDialect.h"
#include "history/Trends.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <unordered_map>

namespace norvex::history {

namespace {

const char* const CREATE_SCHEMA_TABLE = "CREATE TABLE history_schema (version INTEGER NOT NULL)";
const char* const CREATE_UNITS = "CREATE TABLE units (serial TEXT PRIMARY KEY, maker TEXT NOT NULL, "
                                 "model TEXT NOT NULL, first_seen BIGINT NOT NULL)";
const char* const CREATE_READINGS =
    "CREATE TABLE readings (id TEXT PRIMARY KEY, serial TEXT NOT NULL REFERENCES units (serial), "
    "taken_at BIGINT NOT NULL, local_time TEXT NOT NULL, machine TEXT NOT NULL, program TEXT NOT NULL, "
    "parts INTEGER NOT NULL, report_serial TEXT NOT NULL, program_revision BLOB NOT NULL, "
    "bill_credit BLOB NOT NULL, ident BLOB, setup BLOB, statistics BLOB, sensors BLOB, optics BLOB, "
    "video BLOB)";
const char* const CREATE_READINGS_INDEX = "CREATE INDEX readings_by_unit ON readings (serial, taken_at)";
// Version 2: the values decoded from the records, one row per name, for queries and charts.
const char* const CREATE_VALUES =
    "CREATE TABLE reading_values (reading_id TEXT NOT NULL REFERENCES readings (id), name TEXT NOT NULL, "
    "value DOUBLE PRECISION NOT NULL, PRIMARY KEY (reading_id, name))";

// The values of one reading as a single statement (a few hundred rows in one round trip).
bool insertValues(Database& db, const std::string& id,
                  const std::vector<std::pair<std::string, double>>& values, Fault& fault) {
    if (values.empty()) return true;
    std::string sql = "INSERT INTO reading_values (reading_id, name, value) VALUES ";
    std::vector<Value> params;
    params.reserve(1 + 2 * values.size());
    params.emplace_back(id);
    int n = 2;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i) sql += ", ";
        sql += "($1, $" + std::to_string(n) + ", $" + std::to_string(n + 1) + ")";
        n += 2;
        params.emplace_back(values[i].first);
        params.emplace_back(values[i].second);
    }
    return db.exec(sql, params, nullptr, fault);
}

} // namespace

const std::vector<std::string>& schemaV1() {
    static const std::vector<std::string> statements{CREATE_SCHEMA_TABLE, CREATE_UNITS, CREATE_READINGS,
                                                     CREATE_READINGS_INDEX,
                                                     "INSERT INTO history_schema (version) VALUES (1)"};
    return statements;
}

std::string localTimeText(const std::tm& t) {
    char buf[80];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                  t.tm_hour, t.tm_min, t.tm_sec);
    return buf;
}

std::tm parseLocalTime(const std::string& text) {
    std::tm t{};
    int y = 1900, mo = 1, d = 1, h = 0, mi = 0, s = 0;
    if (std::sscanf(text.c_str(), "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &s) == 6) {
        t.tm_year = y - 1900;
        t.tm_mon = mo - 1;
        t.tm_mday = d;
        t.tm_hour = h;
        t.tm_min = mi;
        t.tm_sec = s;
    }
    return t;
}

std::unique_ptr<HistoryStore> HistoryStore::open(std::unique_ptr<Database> db, Fault& fault, OpenMode mode) {
    if (!db) {
        if (!fault) fault = {FaultKind::Invalid, "no database"};
        return nullptr;
    }
    std::unique_ptr<HistoryStore> store(new HistoryStore(std::move(db)));
    if (!store->prepare(mode, fault)) return nullptr;
    return store;
}

bool HistoryStore::transaction(const std::function<bool(Fault&)>& body, Fault& fault) {
    if (!db_->exec(beginSql(db_->dialect()), fault)) return false;
    if (body(fault) && db_->exec("COMMIT", fault)) return true;
    Fault ignored;
    (void)db_->exec("ROLLBACK", ignored);
    return false;
}

bool HistoryStore::create(Fault& f) {
    for (const char* sql : {CREATE_SCHEMA_TABLE, CREATE_UNITS, CREATE_READINGS, CREATE_READINGS_INDEX})
        if (!db_->exec(sql, f)) return false;
    if (!db_->exec(std::string(CREATE_VALUES) + keyedTableSuffix(db_->dialect()), f)) return false;
    return db_->exec("INSERT INTO history_schema (version) VALUES ($1)",
                     {static_cast<std::int64_t>(SCHEMA_VERSION)}, nullptr, f);
}

bool HistoryStore::prepare(OpenMode mode, Fault& fault) {
    // SQLite makes its own file on first use; a server's schema is set up once, by its owner.
    const bool mayChange =
        mode == OpenMode::Init || (mode == OpenMode::Use && db_->dialect() == Dialect::Sqlite);
    auto look = [&](Fault& f) {
        std::vector<Row> rows;
        if (!db_->exec(tableExistsSql(db_->dialect()), {std::string("history_schema")}, &rows, f))
            return false;
        if (rows.empty() || rows[0].empty() || cellInt(rows[0][0]) == 0) {
            if (mayChange) return create(f);
            f = {FaultKind::NoSchema,
                 mode == OpenMode::Read
                     ? std::string(NO_HISTORY)
                     : std::string("the history has not been set up: run norvex --history URL "
                                   "--history-init once, as its owner")};
            return false;
        }
        rows.clear();
        if (!db_->exec("SELECT MAX(version) FROM history_schema", {}, &rows, f)) return false;
        const int version = rows.empty() || rows[0].empty() ? 0 : static_cast<int>(cellInt(rows[0][0]));
        if (version == SCHEMA_VERSION) return true;
        if (version > SCHEMA_VERSION || version < 1) {
            f = {FaultKind::Schema, "the history has schema version " + std::to_string(version) +
                                        "; this program knows up to " + std::to_string(SCHEMA_VERSION)};
            return false;
        }
        if (mayChange && mode != OpenMode::Read) return migrate(version, f);
        f = {FaultKind::NoSchema,
             "the history has schema version " + std::to_string(version) +
                 ": run norvex --history URL --history-init once, as its owner, to bring "
                 "it to version " +
                 std::to_string(SCHEMA_VERSION)};
        return false;
    };
    if (!mayChange) return look(fault);
    return transaction(
        [&](Fault& f) {
            // Several programs setting up one server's history at once take turns (the lock
            // ends with the transaction); SQLite's write transaction does the same for a file.
            if (db_->dialect() == Dialect::Postgres &&
                !db_->exec("SELECT pg_advisory_xact_lock(7303546)", {}, nullptr, f))
                return false;
            return look(f);
        },
        fault);
}

bool HistoryStore::migrate(int from, Fault& fault) {
    if (from < 2) {
        // Version 2 keeps the decoded values beside the records: they are decoded now from the
        // raw records stored so far.
        if (!db_->exec(std::string(CREATE_VALUES) + keyedTableSuffix(db_->dialect()), fault)) return false;
        std::vector<Row> rows;
        if (!db_->exec(std::string("SELECT ") + readingColumns() + " FROM readings", {}, &rows, fault))
            return false;
        for (const Row& row : rows) {
            const Reading r = readingFromRow(row);
            if (!insertValues(*db_, r.id, decodedValues(r), fault)) return false;
        }
    }
    return db_->exec("UPDATE history_schema SET version = $1", {static_cast<std::int64_t>(SCHEMA_VERSION)},
                     nullptr, fault);
}

PutResult HistoryStore::put(const Reading& r, Fault& fault) {
    if (r.id.empty() || r.serial.empty()) {
        fault = {FaultKind::Rejected, "a reading needs an id and a serial number"};
        return PutResult::Failed;
    }
    bool stored = false;
    // INSERT alone, each keyed: a technician's role needs no UPDATE, and two programs sending
    // the same reading at once store it once (the second waits for the first, then does
    // nothing). The unit's maker and model come from its readings when it is listed.
    const bool ok = transaction(
        [&](Fault& f) {
            if (!db_->exec("INSERT INTO units (serial, maker, model, first_seen) VALUES ($1, $2, $3, $4) "
                           "ON CONFLICT (serial) DO NOTHING",
                           {r.serial, r.maker, r.model, r.takenAt}, nullptr, f))
                return false;
            std::vector<Row> rows;
            if (!db_->exec(std::string("INSERT INTO readings (") + readingColumns() + ") VALUES (" +
                               readingPlaceholders() + ") ON CONFLICT (id) DO NOTHING RETURNING id",
                           readingValues(r), &rows, f))
                return false;
            stored = !rows.empty();
            return !stored || insertValues(*db_, r.id, decodedValues(r), f);
        },
        fault);
    if (!ok) return PutResult::Failed;
    return stored ? PutResult::Stored : PutResult::AlreadyStored;
}

bool HistoryStore::units(std::vector<UnitSummary>& out, Fault& fault) {
    out.clear();
    std::vector<Row> rows;
    // The maker and model as the unit's latest identification gives them (the unit's own
    // columns hold what its first reading knew, perhaps nothing).
    const char* sql =
        "SELECT u.serial, u.maker, u.model, "
        "(SELECT MAX(r.taken_at) FROM readings r WHERE r.serial = u.serial), "
        "(SELECT r.local_time FROM readings r WHERE r.serial = u.serial ORDER BY r.taken_at DESC, r.id DESC "
        "LIMIT 1), "
        "(SELECT v.value FROM readings r JOIN reading_values v ON v.reading_id = r.id "
        "AND v.name = 'acceptance_rate' WHERE r.serial = u.serial ORDER BY r.taken_at DESC, r.id DESC LIMIT "
        "1), "
        "(SELECT COUNT(*) FROM readings r WHERE r.serial = u.serial), "
        "(SELECT r.ident FROM readings r WHERE r.serial = u.serial AND r.ident IS NOT NULL "
        "ORDER BY r.taken_at DESC, r.id DESC LIMIT 1) "
        "FROM units u ORDER BY u.serial";
    if (!db_->exec(sql, {}, &rows, fault)) return false;
    for (const Row& r : rows) {
        if (r.size() < 8) continue;
        UnitSummary u;
        u.serial = r[0].value_or("");
        u.maker = r[1].value_or("");
        u.model = r[2].value_or("");
        if (const std::vector<std::uint8_t> ident = cellBytes(r[7]); !ident.empty()) {
            if (std::string maker = identText(ident, 0, 3); !maker.empty()) u.maker = std::move(maker);
            if (std::string model = identText(ident, 15, 12); !model.empty()) u.model = std::move(model);
        }
        u.lastVisit = cellInt(r[3]);
        u.lastVisitText = r[4].value_or("");
        if (r[5]) u.lastRate = cellDouble(r[5]);
        u.visits = static_cast<int>(cellInt(r[6]));
        out.push_back(std::move(u));
    }
    return true;
}

bool HistoryStore::visits(const std::string& serial, std::vector<VisitSummary>& out, Fault& fault) {
    out.clear();
    std::vector<Row> rows;
    if (!db_->exec("SELECT id, taken_at, local_time, machine, program, parts FROM readings WHERE serial = $1 "
                   "ORDER BY taken_at, id",
                   {serial}, &rows, fault))
        return false;
    for (const Row& r : rows) {
        VisitSummary v;
        v.id = r[0].value_or("");
        v.takenAt = cellInt(r[1]);
        v.localTime = r[2].value_or("");
        v.machine = r[3].value_or("");
        v.program = r[4].value_or("");
        v.parts = static_cast<int>(cellInt(r[5]));
        out.push_back(std::move(v));
    }
    return true;
}

bool HistoryStore::unitHistory(const std::string& serial, const std::vector<std::string>& names,
                               std::vector<VisitSummary>& out, Fault& fault) {
    if (!visits(serial, out, fault)) return false;
    std::map<std::string, std::size_t> index;
    for (std::size_t i = 0; i < out.size(); ++i)
        index[out[i].id] = i;
    std::string sql = "SELECT v.reading_id, v.name, v.value FROM readings r JOIN reading_values v ON "
                      "v.reading_id = r.id WHERE r.serial = $1";
    std::vector<Value> params{serial};
    if (!names.empty()) {
        sql += " AND v.name IN (";
        for (std::size_t i = 0; i < names.size(); ++i) {
            sql += (i ? ", $" : "$") + std::to_string(i + 2);
            params.emplace_back(names[i]);
        }
        sql += ")";
    }
    std::vector<Row> rows;
    if (!db_->exec(sql, params, &rows, fault)) return false;
    for (const Row& r : rows) {
        const auto it = index.find(r[0].value_or(""));
        if (it != index.end()) out[it->second].values[r[1].value_or("")] = cellDouble(r[2]);
    }
    return true;
}

bool HistoryStore::writeCsv(const std::string& serial, const std::function<bool(const std::string&)>& write,
                            std::size_t& count, Fault& fault) {
    count = 0;
    std::vector<VisitSummary> list;
    if (!visits(serial, list, fault)) return false;
    if (list.empty()) return true;
    if (!write(csvHeader())) return false;

    static const std::unordered_map<std::string_view, std::size_t> column = [] {
        std::unordered_map<std::string_view, std::size_t> m;
        for (std::size_t i = 0; i < csvValueNames().size(); ++i)
            m.emplace(csvValueNames()[i], i);
        return m;
    }();
    // The values arrive grouped by reading, in the order of the visits; each visit's line is
    // written once its values are in, so that only one line is ever held.
    std::vector<std::optional<double>> values(csvValueNames().size());
    std::string line;
    std::size_t next = 0; // the first visit not written yet
    bool writing = true;
    auto emitUpTo = [&](std::size_t end) {
        for (; writing && next < end; ++next) {
            line.clear();
            appendCsvLine(line, list[next].localTime, serial, list[next].program, values);
            std::fill(values.begin(), values.end(), std::nullopt);
            writing = write(line);
            ++count;
        }
    };
    std::size_t current = list.size();
    std::string currentId;
    const bool read = db_->each(
        "SELECT v.reading_id, v.name, v.value FROM readings r JOIN reading_values v ON v.reading_id = r.id "
        "WHERE r.serial = $1 ORDER BY r.taken_at, r.id",
        {serial},
        [&](const Cells& cells) {
            if (!writing || cells.count() < 3) return;
            const std::string_view id = cells.text(0);
            if (current == list.size() || id != currentId) {
                // The reading's visit: the next one in the list with this id (visits without
                // values come out as lines of their own on the way).
                std::size_t at = next;
                while (at < list.size() && list[at].id != id)
                    ++at;
                if (at == list.size()) return; // a reading stored since the list was read
                emitUpTo(at);
                current = at;
                currentId.assign(id);
            }
            const auto it = column.find(cells.text(1));
            if (it != column.end()) values[it->second] = cells.number(2);
        },
        fault);
    if (!read) return false;
    emitUpTo(list.size());
    return writing;
}

bool HistoryStore::reading(const std::string& id, Reading& out, Fault& fault) {
    std::vector<Row> rows;
    if (!db_->exec(std::string("SELECT ") + readingColumns() + " FROM readings WHERE id = $1", {id}, &rows,
                   fault))
        return false;
    if (rows.empty()) {
        fault = {};
        return false;
    }
    out = readingFromRow(rows[0]);
    return true;
}

bool HistoryStore::readingIds(std::vector<std::string>& out, Fault& fault) {
    out.clear();
    std::vector<Row> rows;
    if (!db_->exec("SELECT id FROM readings ORDER BY taken_at, id", {}, &rows, fault)) return false;
    for (const Row& r : rows)
        out.push_back(r[0].value_or(""));
    return true;
}

bool HistoryStore::remove(const std::string& id, Fault& fault) {
    return transaction(
        [&](Fault& f) {
            std::vector<Row> rows;
            if (!db_->exec("SELECT serial FROM readings WHERE id = $1", {id}, &rows, f)) return false;
            if (rows.empty()) return true;
            const std::string serial = rows[0][0].value_or("");
            return db_->exec("DELETE FROM reading_values WHERE reading_id = $1", {id}, nullptr, f) &&
                   db_->exec("DELETE FROM readings WHERE id = $1", {id}, nullptr, f) &&
                   db_->exec("DELETE FROM units WHERE serial = $1 AND NOT EXISTS "
                             "(SELECT 1 FROM readings WHERE serial = $1)",
                             {serial}, nullptr, f);
        },
        fault);
}

} // namespace norvex::history
