// SPDX-License-Identifier: GPL-3.0-or-later
// Whole batch runs against the virtual validator on a pseudo-terminal: the report, the traffic
// recording, the event lines, the escrow choice, the ways a run ends with their statuses, and
// the firmware download against the simulated loader.

#include "BatchHarness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <thread>

using namespace norvex::batch;
using namespace norvex::ui;
using namespace batchtest;
using namespace std::chrono_literals;

namespace {

// "vmc -> answer" for each answer of two bytes or more: from the simulator's log (the first
// byte of the frame answered) or from a record file line.
std::vector<std::string> simAnswers(const std::string& log) {
    std::vector<std::string> answers;
    std::string head;
    bool resend = false; // the validator's resend of an answer it did not see acknowledged in time
    for (const std::string& line : splitLines(log)) {
        const std::string frame = jsonText(line, "frame"), bytes = jsonText(line, "bytes");
        if (contains(line, "\"event\":\"repeat\"")) resend = true;
        if (contains(line, "\"dir\":\"rx\"") && !frame.empty() && frame != "00") head = frame.substr(0, 2);
        if (contains(line, "\"dir\":\"tx\"")) {
            if (bytes.size() >= 5 && !resend) answers.push_back(head + " -> " + bytes);
            resend = false;
        }
    }
    return answers;
}

// Processor time of the calling thread (the batch loop's, in a DirectRun).
double threadCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string writeImage(const fs::path& path, std::uint16_t checkValue) {
    std::string image(128 + 32 * 133, '\0'); // one group: 32 records
    image[35] = static_cast<char>(0xFF);
    image[126] = static_cast<char>(checkValue >> 8);
    image[127] = static_cast<char>(checkValue);
    for (std::size_t i = 128; i < image.size(); ++i)
        image[i] = static_cast<char>(i * 7);
    std::ofstream(path, std::ios::binary) << image;
    return path.string();
}

} // namespace

TEST(BatchReport, HoldsTheValidatorsValuesInTheBytesTheWindowWrites) {
    TempDir dir;
    SimProcess sim({});
    const fs::path report = dir / "Tavik_SN42.TXT";
    DirectRun run(sim.port() + Args{"--poll-ms", "50", "--report", report.string(), "--serial", "SN42"}, dir);
    ASSERT_EQ(run.status, batch_status::OK) << run.err;

    // The window's writer, given the records this run received, writes the very same bytes.
    const std::string text = readFile(report);
    std::string error;
    ASSERT_TRUE(
        run.runner->core().writeReport((dir / "w.TXT").string(), true, true, true, false, "SN42", error));
    EXPECT_EQ(text, readFile(dir / "w.TXT"));
    // The virtual validator's records, known independently of the decoders.
    for (const char* line :
         {"          Unit Ser. Num.: SN42\r\n", "          Program Rev...: BV2.14-7\r\n",
          "          Date..........: 12-6-2026.\r\n", " 00    001   258\r\n", " 06    100   2004\r\n",
          " Front right\t 123      100      097      open\r\n", "  PART III - MAIN OPTICS PARAMETERS\r\n"})
        EXPECT_TRUE(contains(text, line)) << line;
    EXPECT_FALSE(contains(text, "PART IV"));
    EXPECT_TRUE(contains(run.err, "Log File Location: Log File Created at " + report.string() + " \n"));

    EXPECT_EQ(splitLines(run.out).front(), "000000050 command (30h) RESET validator");
    for (const char* line : {"000000300 command (31h) SETUP request\n", " event (06h) validator reset\n",
                             "setup: feature level 01, country 1978, scaling 100, decimals 2, capacity 400, "
                             "credits 1 2 5 10 20 50 100 0 0 0 0 0 0 0 0 0\n",
                             "identification: maker VNT, program rev BV2.14-7\n",
                             " command (34h) TYPE_ESCR enable\n", " command (38h) DIAGNOSTICS req.\n"})
        EXPECT_TRUE(contains(run.out, line)) << line;
}

TEST(BatchReport, VideoPartIsFetchedAndUnchosenPartsAreLeftOut) {
    TempDir dir;
    SimProcess sim({});
    const fs::path report = dir / "r.TXT";
    DirectRun run(
        sim.port() + Args{"--poll-ms", "50", "--report", report.string(), "--parts", "sensors,video"}, dir);
    ASSERT_EQ(run.status, batch_status::OK) << run.err;
    const std::string text = readFile(report);
    EXPECT_EQ(text.rfind(std::string(62, '*') + "\r\n  PART II - SENSORS DATA\r\n", 0), 0u);
    EXPECT_FALSE(contains(text, "PART I -"));
    EXPECT_FALSE(contains(text, "PART III"));
    EXPECT_TRUE(contains(text, "  PART IV - WHITE PAPER VIDEO TEST RESULTS\r\n"));
    EXPECT_FALSE(contains(text, " Red     000   000   000   000   000   ;")) << "the video record came";
}

TEST(BatchRecord, LinesAreTheValidatorsAnswersAndSecondsEndsWithThePortClosed) {
    TempDir dir;
    const fs::path log = dir / "sim.log", record = dir / "MDB_DATA.TXT";
    SimProcess sim({"--log", log.string()});
    const auto begin = std::chrono::steady_clock::now();
    const double cpuBefore = threadCpuSeconds();
    DirectRun run(sim.port() + Args{"--poll-ms", "50", "--record", record.string(), "--seconds", "2"}, dir);
    const double cpuUsed = threadCpuSeconds() - cpuBefore;
    const auto took = std::chrono::steady_clock::now() - begin;
    ASSERT_EQ(run.status, batch_status::OK) << run.err;
    EXPECT_GE(took, 2s);
    EXPECT_LT(took, 5s);
    // One tick per period, and the loop sleeps in between.
    EXPECT_NEAR(run.runner->ticks(), 40, 3);
    EXPECT_LT(cpuUsed, 0.5);
    EXPECT_FALSE(run.runner->core().controller().portOpen());
    EXPECT_FALSE(run.runner->core().dataFileOpen());

    std::vector<std::string> recorded;
    for (const std::string& line : splitLines(readFile(record))) {
        ASSERT_EQ(line.substr(0, 6) + line.substr(15, 7) + line.substr(24, 5), "time:   vmc:  val:") << line;
        ASSERT_EQ(line.substr(line.size() - 2), " \r") << "a blank, then CR LF";
        recorded.push_back(line.substr(22, 2) + " -> " + line.substr(30, line.size() - 32));
    }
    std::string simLog;
    for (int i = 0; i < 50 && !contains(simLog, "client_closed"); ++i, std::this_thread::sleep_for(20ms))
        simLog = readFile(log);
    EXPECT_TRUE(contains(simLog, "client_closed")) << "the run let go of the port";
    const std::vector<std::string> answered = simAnswers(simLog);
    // Only an answer cut short by the end of the run may be missing from the record.
    ASSERT_GE(recorded.size(), 3u);
    ASSERT_LE(recorded.size(), answered.size());
    EXPECT_GE(recorded.size() + 1, answered.size());
    EXPECT_EQ(recorded, std::vector<std::string>(answered.begin(), answered.begin() + recorded.size()));
}

TEST(BatchEscrow, ABillIsReturnedByDefaultStackedWhenAskedAndSigtermEndsTheRun) {
    TempDir dir;
    std::ofstream(dir / "bill.scn") << "at 2000 insert 1 escrow\n";
    for (const auto& [extra, outcome] :
         {std::pair<Args, std::string>{{}, " event (A1h) bill returned 2.00\n"},
          {{"--escrow", "stack"}, " event (81h) bill stacked : 2.00\n"}}) {
        SimProcess sim({"--scenario", (dir / "bill.scn").string()});
        // The run ends at SIGTERM, as closing the window does.
        std::thread stopper([] {
            std::this_thread::sleep_for(3500ms);
            std::raise(SIGTERM);
        });
        DirectRun run(sim.port() + Args{"--poll-ms", "50"} + extra, dir);
        stopper.join();
        EXPECT_EQ(run.status, batch_status::OK) << run.err;
        EXPECT_TRUE(contains(run.err, "stopped by a signal"));
        EXPECT_FALSE(run.runner->core().controller().portOpen());
        EXPECT_TRUE(contains(run.out, " event (91h) bill escrowed : 2.00\n")) << run.out;
        EXPECT_TRUE(contains(run.out, " command (35h) ESCROW release\n"));
        EXPECT_TRUE(contains(run.out, outcome)) << run.out;
        EXPECT_FALSE(contains(run.err, "Escrow")) << "no prompt may ever be opened";
    }
}

TEST(BatchStatus, SignalBeforeTheReportIsNotSuccess) {
    TempDir dir;
    SimProcess sim({});
    std::thread stopper([] {
        std::this_thread::sleep_for(500ms);
        std::raise(SIGINT);
    });
    DirectRun run(sim.port() + Args{"--report", (dir / "r.TXT").string()}, dir);
    stopper.join();
    EXPECT_EQ(run.status, 128 + SIGINT);
    EXPECT_FALSE(fs::exists(dir / "r.TXT"));
    EXPECT_FALSE(run.runner->core().controller().portOpen());
}

TEST(BatchStatus, EachWayARunFailsHasItsStatusAndMessage) {
    struct Case {
        const char* simCommand; // a failure rule for the simulator, or none
        Args args;              // after the port; "@" stands for the temporary directory
        int status;
        const char* err;
    };
    const Case cases[] = {
        {nullptr,
         {"--port", "COM2=@/ttyNothing", "--com", "2"},
         batch_status::NO_CONNECTION,
         "Info: No Connection\n"},
        {"fail setup silent always", {"--seconds", "30"}, batch_status::NO_SETUP, "did not answer SETUP"},
        {nullptr,
         {"--poll-ms", "20", "--report", "@/none/r.TXT"},
         batch_status::FILE_FAILED,
         "Log File Location: Cannot create "},
        {nullptr, {"--record", "@/none/d.TXT"}, batch_status::FILE_FAILED, "Info: "},
        {"fail setup vanish then=stay", {"--seconds", "10"}, batch_status::LINK_FAILED, "COM Error!: "},
        {"fail optics silent always",
         {"--poll-ms", "20", "--report", "@/r.TXT"},
         batch_status::RECORDS_MISSING,
         "no answer in time for: main optics;"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        SimProcess sim({});
        if (c.simCommand) {
            ASSERT_TRUE(sim.command(c.simCommand));
        }
        Args args = sim.port();
        for (std::string a : c.args)
            args.push_back(a[0] == '@' || a.find("=@") != std::string::npos
                               ? a.replace(a.find('@'), 1, dir.path.string())
                               : a);
        const auto begin = std::chrono::steady_clock::now();
        DirectRun run(args, dir);
        EXPECT_EQ(run.status, c.status) << c.err << "\n" << run.err;
        EXPECT_TRUE(contains(run.err, c.err)) << run.err;
        EXPECT_FALSE(run.runner->core().controller().portOpen());
        if (c.status == batch_status::NO_SETUP) {
            EXPECT_GE(std::chrono::steady_clock::now() - begin, 5s);
        }
        if (c.status == batch_status::RECORDS_MISSING) {
            EXPECT_TRUE(
                contains(readFile(dir / "r.TXT"), " Front right\t 123      100      097      open\r\n"));
        }
        if (c.status == batch_status::NO_CONNECTION || c.args[0] == "--record") {
            EXPECT_EQ(run.out, "") << "nothing was sent";
        }
    }
}

TEST(BatchDownload, OnlyMatchingCheckValuesGiveStatusZero) {
    TempDir dir;
    const std::string image = writeImage(dir / "FW.TVK", 0x1234);
    struct Case {
        Args sim;
        const char* simCommand;
        std::string image;
        int status;
        const char* out;
        const char* err;
    };
    const Case cases[] = {
        {{"--loader", "--loader-check", "header"},
         nullptr,
         image,
         batch_status::OK,
         "progress: 32/32 records (100%)\ndownload: success, check value 1234, expected 1234\n",
         "Info: DOWNLOAD complete."},
        {{"--loader"},
         "fail hello nak",
         image,
         batch_status::DOWNLOAD_NO_CONNECTION,
         "download: no connection\n",
         "Info: No connection\n"},
        {{"--loader", "--loader-check", "ABCD"},
         nullptr,
         image,
         batch_status::DOWNLOAD_CRC_MISMATCH,
         "check value ABCD, expected 1234\n",
         "Info: CRC Test failure. \n"},
        {{"--loader"},
         "fail record nak always",
         image,
         batch_status::DOWNLOAD_RECORD_FAILED,
         "record 1 of 32 refused",
         "Info: Download aborted\n"},
        {{"--loader"},
         nullptr,
         (dir / "missing.TVK").string(),
         batch_status::DOWNLOAD_ABORTED,
         "download: image unusable",
         "Info: Download aborted\n"},
    };
    for (const Case& c : cases) {
        SimProcess sim(c.sim);
        if (c.simCommand) {
            ASSERT_TRUE(sim.command(c.simCommand));
        }
        DirectRun run(sim.port() + Args{"--download", c.image}, dir);
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        EXPECT_TRUE(contains(run.out, c.out)) << run.out;
        EXPECT_TRUE(contains(run.err, c.err)) << run.err;
        EXPECT_FALSE(contains(run.err, "Set DIP switches down")) << "no prompt in batch mode";
    }
}
