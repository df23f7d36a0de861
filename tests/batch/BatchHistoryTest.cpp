// SPDX-License-Identifier: GPL-3.0-or-later
// A batch run keeps its reading in the service history: the report made again from the store
// is the one the run wrote; the CSV export finds the unit by its serial number.

#include "BatchHarness.h"

#include "history/History.h"
#include "ui/core/HistoryCommand.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

using namespace norvex;
using namespace norvex::batch;
using namespace norvex::ui;
using namespace batchtest;

namespace {

// Runs the CSV export with its output streams in memory.
int csvExport(const Args& args, std::string& out, std::string& err) {
    char* outBuf = nullptr;
    char* errBuf = nullptr;
    std::size_t outLen = 0, errLen = 0;
    std::FILE* o = open_memstream(&outBuf, &outLen);
    std::FILE* e = open_memstream(&errBuf, &errLen);
    const int status = runHistoryCommand(args, o, e);
    std::fclose(o);
    std::fclose(e);
    out.assign(outBuf, outLen);
    err.assign(errBuf, errLen);
    std::free(outBuf);
    std::free(errBuf);
    return status;
}

TEST(BatchHistory, TheRunsReadingIsKeptAndItsReportMadeAgainByteForByte) {
    TempDir dir;
    SimProcess sim({});
    const std::string url = "sqlite:" + (dir / "h.sqlite").string();
    const fs::path report = dir / "Tavik_SN42.TXT";
    DirectRun run(sim.port() + Args{"--poll-ms", "50", "--report", report.string(), "--serial", "SN42",
                                    "--parts", "statistics,sensors,optics,video", "--history", url},
                  dir);
    ASSERT_EQ(run.status, batch_status::OK) << run.err;
    EXPECT_FALSE(contains(run.err, "History:")) << run.err;

    history::Fault fault;
    auto store = history::openStore(url, fault);
    ASSERT_TRUE(store) << fault.detail;
    std::vector<history::UnitSummary> units;
    ASSERT_TRUE(store->units(units, fault));
    ASSERT_EQ(units.size(), 1u);
    // The unit is known by the serial number it reports, the typed one stays the report's.
    EXPECT_EQ(units[0].serial, "TVK202604171");
    EXPECT_EQ(units[0].maker, "VNT");
    EXPECT_EQ(units[0].visits, 1);
    std::vector<std::string> ids;
    ASSERT_TRUE(store->readingIds(ids, fault));
    ASSERT_EQ(ids.size(), 1u);
    history::Reading reading;
    ASSERT_TRUE(store->reading(ids[0], reading, fault));
    EXPECT_EQ(reading.reportSerial, "SN42");
    EXPECT_EQ(reading.optics.size(), 336u);
    EXPECT_EQ(history::recreateReport(reading), readFile(report));

    // The CSV export: the names, the captions and the one visit; an unknown unit is status 2.
    std::string out, err;
    ASSERT_EQ(csvExport({"--history", url, "--history-csv", "TVK202604171"}, out, err), 0) << err;
    const auto lines = splitLines(out);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("time,serial,program_revision,bills_accepted,acceptance_rate,", 0), 0u);
    EXPECT_EQ(lines[1].rfind("Time,Serial number,Program revision,", 0), 0u);
    EXPECT_NE(lines[2].find(",TVK202604171,BV2.14-7,"), std::string::npos) << lines[2];
    EXPECT_EQ(csvExport({"--history=" + url, "--history-csv=NOSUCH"}, out, err), 2);
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(contains(err, "no unit NOSUCH")) << err;
    EXPECT_EQ(csvExport({"--history", "mysql://x", "--history-csv", "A"}, out, err), 2);
}

TEST(BatchHistory, NoHistoryKeepsNothingAndAnUnreachableHistoryIsToldOnceWithoutChangingTheStatus) {
    TempDir dir;
    SimProcess sim({});
    const fs::path report = dir / "r.TXT";
    ::setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
    ::setenv("XDG_STATE_HOME", dir.path.c_str(), 1);
    DirectRun off(sim.port() + Args{"--poll-ms", "20", "--report", report.string(), "--no-history"}, dir);
    EXPECT_EQ(off.status, batch_status::OK) << off.err;
    EXPECT_FALSE(fs::exists(dir / "norvex" / "history.sqlite"));

    // A server nobody listens on: the report is written, the run ends as usual, the trouble is
    // told once and the reading waits in the outbox.
    DirectRun away(sim.port() + Args{"--poll-ms", "20", "--report", report.string(), "--history",
                                     "postgresql://norvex@127.0.0.1:1/none"},
                   dir);
    EXPECT_EQ(away.status, batch_status::OK) << away.err;
    EXPECT_EQ(away.err.find("History: "), away.err.rfind("History: ")) << away.err;
    EXPECT_TRUE(contains(away.err,
                         "History: The service history at postgresql://norvex@127.0.0.1:1/none cannot "
                         "be reached"))
        << away.err;
    history::Fault fault;
    auto outbox = history::Outbox::open((dir / "norvex" / "outbox.sqlite").string(), false, fault);
    ASSERT_TRUE(outbox) << fault.detail;
    std::vector<std::string> ids;
    ASSERT_TRUE(outbox->bound(history::destinationKey("postgresql://norvex@127.0.0.1:1/none"), ids, fault));
    EXPECT_EQ(ids.size(), 1u);

    // This computer cannot keep it either (a file where the state folder should be): the run
    // says the reading is not kept, and its status says so too.
    const fs::path blocked = dir / "blocked";
    std::ofstream(blocked) << "not a folder";
    ::setenv("XDG_STATE_HOME", blocked.c_str(), 1);
    DirectRun lost(sim.port() + Args{"--poll-ms", "20", "--report", report.string(), "--history",
                                     "postgresql://norvex@127.0.0.1:1/none"},
                   dir);
    EXPECT_EQ(lost.status, batch_status::READING_NOT_KEPT) << lost.err;
    EXPECT_TRUE(contains(lost.err, "the reading is not kept")) << lost.err;
    EXPECT_FALSE(contains(lost.err, "are kept on this computer")) << lost.err;
    EXPECT_TRUE(contains(lost.err, "1 reading could not be kept anywhere and is lost")) << lost.err;
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_STATE_HOME");
}

TEST(BatchHistory, TheCsvExportCreatesNothingWhereThereIsNoHistory) {
    TempDir dir;
    std::string out, err;
    const fs::path missing = dir / "sub" / "none.sqlite";
    EXPECT_EQ(csvExport({"--history", "sqlite:" + missing.string(), "--history-csv", "A"}, out, err), 1);
    EXPECT_TRUE(contains(err, "no history at sqlite:" + missing.string())) << err;
    EXPECT_FALSE(fs::exists(dir / "sub"));

    const char* server = std::getenv("NORVEX_TEST_PG_URL");
    if (!server || !*server) return;
    // An empty database on the test server: no table is made in it.
    const std::string base = server;
    const std::string empty = base.substr(0, base.rfind('/')) + "/norvex_csv_empty";
    history::Fault fault;
    auto owner = history::openPostgres(base, fault);
    ASSERT_TRUE(owner && owner->connected()) << fault.detail;
    (void)owner->exec("CREATE DATABASE norvex_csv_empty", fault);
    EXPECT_EQ(csvExport({"--history", empty, "--history-csv", "A"}, out, err), 1);
    EXPECT_TRUE(contains(err, "no history at " + empty)) << err;
    auto check = history::openPostgres(empty, fault);
    ASSERT_TRUE(check && check->connected()) << fault.detail;
    std::vector<history::Row> rows;
    ASSERT_TRUE(check->exec("SELECT COUNT(*) FROM information_schema.tables WHERE table_schema = 'public'",
                            {}, &rows, fault));
    EXPECT_EQ(history::cellInt(rows.at(0).at(0)), 0);
}

} // namespace
