// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/DataRecorder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using norvex::ui::DataRecorder;
using Result = DataRecorder::WriteResult;
static const std::string RECORD_LINE = "time: 000000100  vmc: 33 val: 03 03 \r\n"; // 38 bytes

TEST(Recorder, FailedWriteIsReportedOnceAndStopsRecording) {
    DataRecorder r;
    if (!r.open("/dev/full")) GTEST_SKIP() << r.lastError();
    EXPECT_EQ(r.write(RECORD_LINE), Result::Failed);
    EXPECT_EQ(r.lastError(), "Recording stopped: cannot write /dev/full: No space left on device");
    EXPECT_EQ(r.write(RECORD_LINE), Result::Closed);
    EXPECT_FALSE(r.open("/nonexistent/x"));
    EXPECT_EQ(r.lastError(), "Cannot create the data file /nonexistent/x: No such file or directory");
}

TEST(Recorder, FileIsCreatedAnewAndAFullFileKeepsOnlyWholeRecords) {
    const std::string path = ::testing::TempDir() + "recorder_" + std::to_string(::getpid());
    std::ofstream(path) << std::string(200, 'x');
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) { // room for two records and part of a third
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100, 100};
        DataRecorder r;
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0 || !r.open(path)) ::_exit(90);
        int written = 0;
        while (written < 10 && r.write(RECORD_LINE) == Result::Ok)
            ++written;
        ::_exit(r.isOpen() ? 91 : written);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 2);
    std::ostringstream file;
    file << std::ifstream(path).rdbuf();
    EXPECT_EQ(file.str(), RECORD_LINE + RECORD_LINE);
    std::filesystem::remove(path);
}
