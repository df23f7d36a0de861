// The store's cases, each run against SQLite and against a PostgreSQL server: a reading stored
// whole, a reading interrupted halfway leaving nothing, the history lost and back during a run
// (readings kept and sent once), the schema migrated from the previous version, and the
// report of a visit made again identical.

#include "HistoryFixture.h"

#include "history/SqlDialect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

using namespace norvex::history;
using namespace norvex::history::testing;

namespace {

enum class Backend { Sqlite, Postgres };

std::string backendName(const ::testing::TestParamInfo<Backend>& info) {
    return info.param == Backend::Sqlite ? "Sqlite" : "Postgres";
}

// Fails one statement, the n-th from now on, as a lost connection would.
class InterruptingDatabase final : public Database {
public:
    InterruptingDatabase(std::unique_ptr<Database> inner, int failAt)
        : inner_(std::move(inner)), left_(failAt) {}
    Dialect dialect() const override { return inner_->dialect(); }
    bool connected() const override { return inner_->connected(); }
    bool reconnect(Fault& f) override { return inner_->reconnect(f); }
    bool exec(const std::string& sql, const std::vector<Value>& params, std::vector<Row>* rows,
              Fault& fault) override {
        if (sql != "ROLLBACK" && left_ >= 0 && left_-- == 0) {
            fault = {FaultKind::Unavailable, "interrupted by the test"};
            return false;
        }
        return inner_->exec(sql, params, rows, fault);
    }
    void failAt(int n) { left_ = n; }

private:
    std::unique_ptr<Database> inner_;
    int left_;
};

class StoreCase : public ::testing::TestWithParam<Backend> {
protected:
    void SetUp() override {
        if (GetParam() == Backend::Postgres) {
            url = postgresUrl();
            if (url.empty())
                GTEST_SKIP()
                    << "no PostgreSQL server: set NORVEX_TEST_PG_URL (postgresql://USER@HOST:PORT/DB) "
                       "to run this case against one";
            // Every case starts from an empty database.
            Fault fault;
            auto db = openPostgres(url, fault);
            ASSERT_TRUE(db && db->connected()) << fault.detail;
            ASSERT_TRUE(
                db->exec("DROP TABLE IF EXISTS reading_values, readings, units, history_schema", fault))
                << fault.detail;
        } else {
            url = "sqlite:" + scratch.path() + "/history.sqlite";
        }
    }

    std::unique_ptr<Database> rawDatabase() {
        Fault fault;
        HistoryUrl parsed;
        std::string error;
        EXPECT_TRUE(parseHistoryUrl(url, parsed, error)) << error;
        auto db = parsed.kind == HistoryUrl::Kind::Sqlite ? openSqlite(parsed.target, fault)
                                                          : openPostgres(parsed.target, fault);
        EXPECT_TRUE(db) << fault.detail;
        return db;
    }

    std::unique_ptr<HistoryStore> openFresh() {
        Fault fault;
        auto store = openStore(url, fault);
        EXPECT_TRUE(store) << fault.detail;
        return store;
    }

    static std::vector<std::string> ids(HistoryStore& store) {
        std::vector<std::string> out;
        Fault fault;
        EXPECT_TRUE(store.readingIds(out, fault)) << fault.detail;
        return out;
    }

    ScratchFolder scratch;
    std::string url;
};

void expectSameReading(const Reading& a, const Reading& b) {
    EXPECT_EQ(a.id, b.id);
    EXPECT_EQ(a.serial, b.serial);
    EXPECT_EQ(a.takenAt, b.takenAt);
    EXPECT_EQ(a.machine, b.machine);
    EXPECT_EQ(a.parts, b.parts);
    EXPECT_EQ(a.reportSerial, b.reportSerial);
    EXPECT_EQ(a.programRevision, b.programRevision);
    EXPECT_EQ(a.billCredit, b.billCredit);
    EXPECT_EQ(a.ident, b.ident);
    EXPECT_EQ(a.setup, b.setup);
    EXPECT_EQ(a.statistics, b.statistics);
    EXPECT_EQ(a.sensors, b.sensors);
    EXPECT_EQ(a.optics, b.optics);
    EXPECT_EQ(a.video, b.video);
}

TEST_P(StoreCase, AReadingIsStoredWholeAndReadBackAsItWas) {
    auto store = openFresh();
    ASSERT_TRUE(store);
    const Reading r = knownReading("TVK0001", 1'790'000'000, 3);
    Fault fault;
    ASSERT_EQ(store->put(r, fault), PutResult::Stored) << fault.detail;

    Reading back;
    ASSERT_TRUE(store->reading(r.id, back, fault)) << fault.detail;
    expectSameReading(r, back);
    EXPECT_EQ(back.maker, "TVK");
    EXPECT_EQ(back.model, "MODEL-3");
    EXPECT_EQ(back.localTime.tm_year, r.localTime.tm_year);
    EXPECT_EQ(back.localTime.tm_sec, r.localTime.tm_sec);

    // The decoded values went in with it: the unit list shows the rate, and every value the
    // records give can be asked for.
    std::vector<UnitSummary> units;
    ASSERT_TRUE(store->units(units, fault)) << fault.detail;
    ASSERT_EQ(units.size(), 1u);
    EXPECT_EQ(units[0].serial, "TVK0001");
    EXPECT_EQ(units[0].visits, 1);
    EXPECT_EQ(units[0].lastVisit, 1'790'000'000);
    ASSERT_TRUE(units[0].lastRate.has_value());
    EXPECT_DOUBLE_EQ(*units[0].lastRate, 100.0 * 103 / (103 + 3));

    std::vector<VisitSummary> visits;
    ASSERT_TRUE(store->unitHistory("TVK0001", {}, visits, fault)) << fault.detail;
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_EQ(visits[0].values.size(), decodedValues(r).size());
    for (const auto& [name, value] : decodedValues(r))
        EXPECT_DOUBLE_EQ(visits[0].values[name], value) << name;

    // The same reading sent again (an outbox sending twice) is stored once.
    EXPECT_EQ(store->put(r, fault), PutResult::AlreadyStored);
    EXPECT_EQ(ids(*store).size(), 1u);
}

TEST_P(StoreCase, AReadingInterruptedHalfwayLeavesNothing) {
    {
        auto store = openFresh(); // the schema exists before the interrupted run
        ASSERT_TRUE(store);
    }
    const Reading r = knownReading("TVK0002", 1'790'000'100, 5);
    // Statements of a put: BEGIN, id check, unit, unit update, reading, values, COMMIT. Each
    // of them in turn fails; nothing of the reading may remain.
    for (int failAt = 1; failAt <= 6; ++failAt) {
        auto inner = rawDatabase();
        ASSERT_TRUE(inner);
        auto interrupting = std::make_unique<InterruptingDatabase>(std::move(inner), -1);
        InterruptingDatabase* handle = interrupting.get();
        Fault fault;
        auto store = HistoryStore::open(std::move(interrupting), fault);
        ASSERT_TRUE(store) << fault.detail;
        handle->failAt(failAt);
        EXPECT_EQ(store->put(r, fault), PutResult::Failed) << "statement " << failAt;
        EXPECT_EQ(fault.kind, FaultKind::Unavailable);

        auto check = openFresh();
        std::vector<UnitSummary> units;
        ASSERT_TRUE(check->units(units, fault)) << fault.detail;
        EXPECT_TRUE(units.empty()) << "statement " << failAt;
        EXPECT_TRUE(ids(*check).empty()) << "statement " << failAt;
        std::vector<VisitSummary> visits;
        ASSERT_TRUE(check->unitHistory("TVK0002", {}, visits, fault));
        EXPECT_TRUE(visits.empty());
    }
    // And the same reading stores whole afterwards.
    auto store = openFresh();
    Fault fault;
    EXPECT_EQ(store->put(r, fault), PutResult::Stored) << fault.detail;
}

// Makes the history unusable and usable again: PostgreSQL's server is stopped and started;
// a SQLite file is made full and given room again.
class Outage {
public:
    Outage(Backend backend, History& history) : backend_(backend), history_(history) {}
    bool possible(std::string& why) const {
        if (backend_ != Backend::Postgres) return true;
        if (postgresControl().empty()) {
            why = "NORVEX_TEST_PG_CTL (a pg_ctl command line for the test server) is not set";
            return false;
        }
        // As another user than the server's the command cannot act on it.
        if (std::system((postgresControl() + " status >/dev/null 2>&1").c_str()) != 0) {
            why = "NORVEX_TEST_PG_CTL cannot control the test server as this user";
            return false;
        }
        return true;
    }
    void begin() {
        if (backend_ == Backend::Postgres) {
            ASSERT_EQ(std::system((postgresControl() + " stop -m fast -w >/dev/null 2>&1").c_str()), 0);
            return;
        }
        Fault fault;
        HistoryStore* store = history_.store(fault);
        ASSERT_TRUE(store) << fault.detail;
        std::vector<Row> rows;
        ASSERT_TRUE(store->database().exec("PRAGMA page_count", {}, &rows, fault));
        ASSERT_TRUE(store->database().exec("PRAGMA max_page_count = " + rows.at(0).at(0).value_or("1"), {},
                                           &rows, fault));
    }
    void end() {
        if (backend_ == Backend::Postgres) {
            ASSERT_EQ(std::system((postgresControl() + " start -w >/dev/null 2>&1").c_str()), 0);
            return;
        }
        Fault fault;
        HistoryStore* store = history_.store(fault);
        ASSERT_TRUE(store) << fault.detail;
        std::vector<Row> rows;
        ASSERT_TRUE(store->database().exec("PRAGMA max_page_count = 1073741823", {}, &rows, fault));
    }

private:
    Backend backend_;
    History& history_;
};

TEST_P(StoreCase, TheHistoryLostAndBackKeepsReadingsAndSendsEachOnce) {
    History history(url, scratch.path() + "/outbox.sqlite");
    Outage outage(GetParam(), history);
    std::string why;
    if (!outage.possible(why)) GTEST_SKIP() << why;

    const Reading a = knownReading("TVK0003", 1'790'000'000, 1);
    const Reading b = knownReading("TVK0003", 1'790'000'100, 2);
    const Reading c = knownReading("TVK0004", 1'790'000'200, 3);
    const Reading d = knownReading("TVK0003", 1'790'000'300, 4);

    StoreReport report = history.store(a);
    ASSERT_EQ(report.outcome, StoreOutcome::Stored) << report.fault.detail;

    outage.begin();
    report = history.store(b);
    EXPECT_EQ(report.outcome, StoreOutcome::KeptLocally);
    EXPECT_TRUE(report.tell) << "the first trouble is told";
    EXPECT_TRUE(report.fault.kind == FaultKind::Unavailable || report.fault.kind == FaultKind::Full)
        << report.fault.detail;
    report = history.store(c);
    EXPECT_EQ(report.outcome, StoreOutcome::KeptLocally);
    EXPECT_FALSE(report.tell) << "the same trouble is told once";
    EXPECT_EQ(history.pending(), 2u);

    outage.end();
    report = history.store(d);
    EXPECT_EQ(report.outcome, StoreOutcome::Stored) << report.fault.detail;
    EXPECT_EQ(report.sent, 2);
    EXPECT_EQ(history.pending(), 0u);

    auto check = openFresh();
    ASSERT_TRUE(check);
    const std::vector<std::string> stored = ids(*check);
    EXPECT_EQ(stored, (std::vector<std::string>{a.id, b.id, c.id, d.id}));
    Reading back;
    Fault fault;
    ASSERT_TRUE(check->reading(c.id, back, fault)) << fault.detail;
    expectSameReading(c, back);

    // A second sending of a reading that reached the history (the outbox lost its copy's
    // removal) stores nothing new.
    {
        Fault boxFault;
        auto box = openStore("sqlite:" + scratch.path() + "/outbox.sqlite", boxFault);
        ASSERT_TRUE(box) << boxFault.detail;
        ASSERT_EQ(box->put(b, boxFault), PutResult::Stored);
    }
    int sent = 0;
    ASSERT_TRUE(history.flush(sent, fault)) << fault.detail;
    EXPECT_EQ(sent, 1);
    EXPECT_EQ(ids(*check).size(), 4u);
}

TEST_P(StoreCase, TheSchemaOfThePreviousVersionIsMigratedWithItsReadings) {
    const Reading old = knownReading("TVK0005", 1'780'000'000, 7);
    {
        // A history as the previous version wrote it: no decoded values.
        auto db = rawDatabase();
        ASSERT_TRUE(db);
        Fault fault;
        for (const std::string& sql : schemaV1())
            ASSERT_TRUE(db->exec(sql, fault)) << sql << ": " << fault.detail;
        ASSERT_TRUE(db->exec("INSERT INTO units (serial, maker, model, first_seen) VALUES ($1, $2, $3, $4)",
                             {old.serial, old.maker, old.model, old.takenAt}, nullptr, fault))
            << fault.detail;
        std::vector<std::uint8_t> revision(old.programRevision.begin(), old.programRevision.end());
        std::vector<std::uint8_t> credit;
        for (auto c : old.billCredit) {
            credit.push_back(static_cast<std::uint8_t>(c >> 8));
            credit.push_back(static_cast<std::uint8_t>(c));
        }
        ASSERT_TRUE(
            db->exec("INSERT INTO readings (id, serial, taken_at, local_time, machine, program, parts, "
                     "report_serial, program_revision, bill_credit, ident, setup, statistics, sensors, "
                     "optics, video) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, "
                     "$15, $16)",
                     {old.id, old.serial, old.takenAt, localTimeText(old.localTime), old.machine,
                      old.programText, static_cast<std::int64_t>(old.parts), old.reportSerial, Blob{revision},
                      Blob{credit}, Blob{old.ident}, Blob{old.setup}, Blob{old.statistics}, Blob{old.sensors},
                      Blob{old.optics}, Blob{old.video}},
                     nullptr, fault))
            << fault.detail;
    }
    auto store = openFresh();
    ASSERT_TRUE(store);
    Fault fault;
    std::vector<Row> rows;
    ASSERT_TRUE(store->database().exec("SELECT version FROM history_schema", {}, &rows, fault));
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(cellInt(rows[0][0]), SCHEMA_VERSION);

    // The old reading's values were decoded from its records during the migration.
    std::vector<VisitSummary> visits;
    ASSERT_TRUE(store->unitHistory(old.serial, {"acceptance_rate", "trans_white_ch3_red"}, visits, fault));
    ASSERT_EQ(visits.size(), 1u);
    EXPECT_DOUBLE_EQ(visits[0].values["acceptance_rate"], 100.0 * 107 / (107 + 7));
    EXPECT_EQ(visits[0].values.count("trans_white_ch3_red"), 1u);
    Reading back;
    ASSERT_TRUE(store->reading(old.id, back, fault));
    EXPECT_EQ(recreateReport(back), recreateReport(old));

    // New readings go in beside it; a later program's schema is refused, not written over.
    EXPECT_EQ(store->put(knownReading(old.serial, 1'790'000'000, 8), fault), PutResult::Stored);
    ASSERT_TRUE(store->database().exec("UPDATE history_schema SET version = 99", fault));
    store.reset();
    auto refused = openStore(url, fault);
    EXPECT_FALSE(refused);
    EXPECT_EQ(fault.kind, FaultKind::Schema);
}

TEST_P(StoreCase, TheReportOfAVisitIsMadeAgainIdentical) {
    auto store = openFresh();
    ASSERT_TRUE(store);
    Fault fault;
    for (int parts : {PART_STATISTICS | PART_SENSORS | PART_OPTICS | PART_VIDEO, int{PART_SENSORS},
                      PART_STATISTICS | PART_VIDEO}) {
        Reading r = knownReading("TVK0006", 1'790'000'000 + parts, parts, parts);
        // The report as written at the visit, from the records decoded there.
        norvex::diagnostics::StatisticsData stats;
        norvex::diagnostics::SensorsData sensors;
        norvex::diagnostics::OpticsData optics;
        norvex::diagnostics::VideoTestData video;
        norvex::diagnostics::decodeStatistics(r.statistics.data(), stats);
        norvex::diagnostics::decodeSensors(r.sensors.data(), sensors);
        norvex::diagnostics::decodeOptics(r.optics.data(), optics);
        norvex::diagnostics::decodeVideoTest(r.video.data(), video);
        norvex::diagnostics::ReportContext ctx{&stats,       &sensors,          &optics,        &video,
                                               r.billCredit, r.programRevision, r.reportSerial, r.localTime};
        const std::string written = norvex::diagnostics::buildReport(
            ctx, parts & PART_STATISTICS, parts & PART_SENSORS, parts & PART_OPTICS, parts & PART_VIDEO);
        ASSERT_FALSE(written.empty());

        ASSERT_EQ(store->put(r, fault), PutResult::Stored) << fault.detail;
        Reading back;
        ASSERT_TRUE(store->reading(r.id, back, fault)) << fault.detail;
        EXPECT_EQ(recreateReport(back), written) << "parts " << parts;
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, StoreCase, ::testing::Values(Backend::Sqlite, Backend::Postgres),
                         backendName);

TEST(HistoryUrl, NamesSqliteFilesAndPostgresServers) {
    HistoryUrl u;
    std::string error;
    ASSERT_TRUE(parseHistoryUrl("sqlite:/var/lib/h.sqlite", u, error));
    EXPECT_EQ(u.kind, HistoryUrl::Kind::Sqlite);
    EXPECT_EQ(u.target, "/var/lib/h.sqlite");
    ASSERT_TRUE(parseHistoryUrl("sqlite:rel/h.sqlite", u, error));
    EXPECT_EQ(u.target, "rel/h.sqlite");
    ASSERT_TRUE(parseHistoryUrl("postgresql://tech@workshop/norvex", u, error));
    EXPECT_EQ(u.kind, HistoryUrl::Kind::Postgres);
    EXPECT_EQ(u.target, "postgresql://tech@workshop/norvex");
    EXPECT_FALSE(parseHistoryUrl("sqlite:", u, error));
    EXPECT_FALSE(parseHistoryUrl("mysql://x/y", u, error));
    EXPECT_NE(error.find("sqlite:PATH"), std::string::npos);
}

TEST(HistoryUrl, TheDefaultLivesInTheUsersDataFolder) {
    const char* oldXdg = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldXdg ? oldXdg : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(defaultHistoryUrl(), "sqlite:/srv/data/norvex/history.sqlite");
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", ::getenv("HOME") ? ::getenv("HOME") : "/root", 1);
    EXPECT_EQ(defaultHistoryUrl(),
              std::string("sqlite:") + ::getenv("HOME") + "/.local/share/norvex/history.sqlite");
    if (oldXdg) ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
}

TEST(SqlDialect, ParametersAndBlobsAreSpelledForEachDatabase) {
    EXPECT_EQ(adaptSql(Dialect::Sqlite, "SELECT $1, $12 FROM t WHERE a = $2"),
              "SELECT ?1, ?12 FROM t WHERE a = ?2");
    EXPECT_EQ(adaptSql(Dialect::Postgres, "CREATE TABLE t (b BLOB, c TEXT)"),
              "CREATE TABLE t (b BYTEA, c TEXT)");
    EXPECT_EQ(adaptSql(Dialect::Postgres, "SELECT $1"), "SELECT $1");
}

} // namespace
