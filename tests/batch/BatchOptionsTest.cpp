// SPDX-License-Identifier: GPL-3.0-or-later
// The batch command line: what it accepts, what it refuses, and that a refusal ends the run
// with status 2 before anything is touched.

#include "ui/batch/BatchOptions.h"
#include "ui/batch/BatchMode.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace norvex::batch;
using norvex::control::EscrowOption;
using Args = std::vector<std::string>;

TEST(BatchOptions, AcceptsEveryOptionWithItsValueSeparateOrAfterAnEqualsSign) {
    BatchOptions o;
    std::string error;
    ASSERT_TRUE(parseBatchArguments({"--batch"}, o, error));
    EXPECT_EQ(o.com, 0); // the port stored in norvex.ini
    EXPECT_EQ(o.pollMs, 100u);
    EXPECT_EQ(o.escrowOption, EscrowOption::AutoReturn); // return: the safe choice when nobody answers
    EXPECT_EQ(o.parts, (ReportParts{true, true, true, false}));

    ASSERT_TRUE(
        parseBatchArguments({"--port", "COM2=/dev/pts/7", "--port=COM1=/dev/ttyACM0", "--com", "2",
                             "--poll-ms=50", "--escrow", "stack", "--record", "rec.txt", "--report=rep.txt",
                             "--serial", "A123456789", "--parts", "video,sensors", "--seconds=30"},
                            o, error))
        << error;
    EXPECT_EQ(o.portOverrides, (Args{"COM2=/dev/pts/7", "COM1=/dev/ttyACM0"}));
    EXPECT_EQ(o.com, 2);
    EXPECT_EQ(o.pollMs, 50u);
    EXPECT_EQ(o.escrowOption, EscrowOption::AutoStack);
    EXPECT_EQ(o.recordPath, "rec.txt");
    EXPECT_EQ(o.reportPath, "rep.txt");
    EXPECT_EQ(o.serial, "A123456789"); // ten characters, as many as the dialog's field takes
    EXPECT_EQ(o.parts, (ReportParts{false, true, false, true}));
    EXPECT_EQ(o.seconds, 30);
}

TEST(BatchOptions, ListenTakesTheControllersLineFirstAndTheFilesOfARun) {
    BatchOptions o;
    std::string error;
    ASSERT_TRUE(parseBatchArguments({"--batch", "--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--seconds", "60",
                                     "--pcap", "bus.pcap", "--record", "rec.txt"},
                                    o, error))
        << error;
    EXPECT_TRUE(o.listening());
    EXPECT_EQ(o.listenController, "/dev/ttyUSB0");
    EXPECT_EQ(o.listenPeripheral, "/dev/ttyUSB1");
    EXPECT_EQ(o.seconds, 60);
    EXPECT_EQ(o.pcapPath, "bus.pcap");
    EXPECT_EQ(o.recordPath, "rec.txt");
    ASSERT_TRUE(parseBatchArguments({"--listen=/dev/serial/by-id/a,/dev/serial/by-id/b"}, o, error)) << error;
    EXPECT_EQ(o.listenPeripheral, "/dev/serial/by-id/b");
}

TEST(BatchOptions, RefusesWhatItCannotUseOrWouldSilentlyIgnore) {
    const Args refused[] = {
        {"--verbose"},
        {"report.txt"},
        {"--com"},
        {"--com", "0"},
        {"--com", "5"},
        {"--com", "x"},
        {"--com", "1 "},
        {"--poll-ms", "75"},
        {"--poll-ms", "100ms"},
        {"--poll-ms", "-100"},
        {"--seconds", "0"},
        {"--seconds", "1.5"},
        {"--seconds", "99999999999999"},
        {"--escrow", "manual"}, // nobody could answer the prompt
        {"--port", "COM5=/dev/x"},
        {"--port", "COM1="},
        {"--report", ""},
        {"--download", ""},
        {"--report", "r.txt", "--serial", "A1234567890"},  // eleven characters
        {"--report", "r.txt", "--serial", "SN\r\nPART X"}, // would break the report's lines
        {"--report", "r.txt", "--parts", "statistics,coins"},
        {"--report", "r.txt", "--parts", "sensors,"},
        {"--serial", "SN1"},
        {"--parts", "sensors"}, // no report to put them in
        {"--download", "fw.TVK", "--report", "r.txt"},
        {"--download", "fw.TVK", "--seconds", "5"},
        {"--report", "same.txt", "--record", "./same.txt"}, // one file would ruin both
        // Listening: two devices, the controller's first; nothing that makes the controller send.
        {"--listen", "/dev/ttyUSB0"},
        {"--listen", "/dev/ttyUSB0,"},
        {"--listen", ",/dev/ttyUSB1"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1,/dev/ttyUSB2"},
        {"--listen", "/dev/ttyUSB0,/dev/../dev/ttyUSB0"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--report", "r.txt"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--download", "fw.TVK"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--com", "1"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--port", "COM1=/dev/ttyUSB0"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--poll-ms", "100"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--escrow", "stack"},
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--pcap", "/dev/ttyUSB1"}, // a capture written onto the bus
        {"--listen", "/dev/ttyUSB0,/dev/ttyUSB1", "--record", "/dev/../dev/ttyUSB0"},
    };
    for (const Args& args : refused) {
        BatchOptions o;
        std::string error;
        EXPECT_FALSE(parseBatchArguments(args, o, error)) << args.front() << " " << args.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(BatchOptions, FilesThatAreOneByLinkOrNameAreRefused) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("norvex-batch-links-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string a = (dir / "a.pcap").string(), hard = (dir / "hard").string(),
                      soft = (dir / "soft").string();
    std::ofstream(a) << "x";
    std::filesystem::create_hard_link(a, hard);
    std::filesystem::create_symlink(a, soft);
    const Args refused[] = {
        {"--pcap", a, "--record", hard},
        {"--pcap", soft, "--report", a},
        {"--report", hard, "--record", soft},
        {"--pcap", (dir / "new").string(), "--record", (dir / "." / "new").string()},
    };
    for (const Args& args : refused) {
        BatchOptions o;
        std::string error;
        EXPECT_FALSE(parseBatchArguments(args, o, error)) << args[1] << " " << args[3];
    }
    BatchOptions o;
    std::string error;
    EXPECT_TRUE(parseBatchArguments({"--pcap", a, "--record", (dir / "other").string()}, o, error)) << error;
    std::filesystem::remove_all(dir);
}

TEST(BatchMode, BadArgumentsEndWithStatusTwoAndHelpListsEveryStatus) {
    const auto dir =
        std::filesystem::temp_directory_path() / ("norvex-batch-args-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    char *out = nullptr, *err = nullptr;
    std::size_t outSize = 0, errSize = 0;
    BatchEnvironment env;
    env.out = open_memstream(&out, &outSize);
    env.err = open_memstream(&err, &errSize);
    env.settingsDir = dir.string();
    EXPECT_EQ(runBatch({"--batch", "--poll-ms", "75"}, env), batch_status::BAD_ARGUMENTS);
    std::fflush(env.err);
    EXPECT_NE(std::string(err, errSize).find("--poll-ms"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir / "norvex.ini")); // nothing was touched

    EXPECT_EQ(runBatch({"--batch", "--help"}, env), 0);
    std::fflush(env.out);
    const std::string usage(out, outSize);
    EXPECT_EQ(usage, batchUsage());
    for (const char* status :
         {"\n    0 ", "\n    2 ", "\n    3 ", "\n    4 ", "\n    5 ", "\n    6 ", "\n    7 ", "\n    8 ",
          "\n    10 ", "\n    11 ", "\n    12 ", "\n    13 ", "\n    14 ", "\n    15 "})
        EXPECT_NE(usage.find(status), std::string::npos) << status;
    std::fclose(env.out);
    std::fclose(env.err);
    std::free(out);
    std::free(err);
    std::filesystem::remove_all(dir);

    const char* argv[] = {"norvex", "--com", "2", "--batch"};
    EXPECT_TRUE(batchRequested(4, argv));
    EXPECT_FALSE(batchRequested(1, argv + 3)); // argv[0] is the program, not an argument
}
