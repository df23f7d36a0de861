// A batch run keeps its reading in the service history: the report made again from the store
// is the one the run wrote; the CSV export finds the unit by its serial number.

#include "BatchHarness.h"

#include "history/History.h"
#include "ui/core/HistoryCommand.h"

#include <gtest/gtest.h>

#include <cstdio>

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
    const int status = runHistoryCsv(args, o, e);
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
    auto outbox = history::openStore("sqlite:" + (dir / "norvex" / "outbox.sqlite").string(), fault);
    ASSERT_TRUE(outbox) << fault.detail;
    std::vector<std::string> ids;
    ASSERT_TRUE(outbox->readingIds(ids, fault));
    EXPECT_EQ(ids.size(), 1u);
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_CONFIG_HOME");
}

} // namespace
