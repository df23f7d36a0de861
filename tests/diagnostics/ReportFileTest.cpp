// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/ReportFile.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace norvex::diagnostics;
namespace fs = std::filesystem;

namespace {

class ReportFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "norvex-report-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    static std::string contents(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir;
};

} // namespace

TEST_F(ReportFileTest, WritesExactBytesAndTruncatesAnOlderReport) {
    const fs::path path = dir / "Tavik_TV1.TXT";
    std::string error = "stale";
    ASSERT_TRUE(writeReportFile(path.string(), std::string(5000, 'x'), error)) << error;
    EXPECT_EQ(error, "");

    const std::string report = std::string("line\r\n\tend\r\n\r\n") + '\xE9';
    ASSERT_TRUE(writeReportFile(path.string(), report, error)) << error;
    EXPECT_EQ(contents(path), report);

    ASSERT_TRUE(writeReportFile(path.string(), "", error)) << error;
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST_F(ReportFileTest, PathThatCannotBeCreatedFailsWithReason) {
    const std::string path = (dir / "missing" / "r.TXT").string();
    std::string error;
    EXPECT_FALSE(writeReportFile(path, "x\r\n", error));
    EXPECT_EQ(error, "Cannot create " + path + ": No such file or directory");

    EXPECT_FALSE(writeReportFile(dir.string(), "x\r\n", error)); // a directory
    EXPECT_EQ(error.rfind("Cannot create " + dir.string() + ": ", 0), 0u);
}

TEST_F(ReportFileTest, FullDeviceIsAFailureNotASuccess) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
    std::string error;
    EXPECT_FALSE(writeReportFile("/dev/full", "report\r\n", error));
    EXPECT_EQ(error, "Cannot write /dev/full: No space left on device");
}

// A failed write must not cost the earlier report: the new one replaces it only when complete.
TEST_F(ReportFileTest, WriteCutShortByAFileSizeLimitKeepsTheEarlierReportAndLeavesNothingBehind) {
    const std::string path = (dir / "Tavik_TV1.TXT").string();
    std::string error;
    ASSERT_TRUE(writeReportFile(path, "earlier report\r\n", error)) << error;
    // The limit applies to a child only, so that the test process keeps its own.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN); // the function's own failure path, not the program's
        const rlimit limit{100, 100};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
        std::string why;
        const bool ok = writeReportFile(path, std::string(1000, 'r'), why);
        ::_exit(!ok && why == "Cannot write " + path + ": File too large" ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(contents(path), "earlier report\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1)
        << "no temporary file left";
}

TEST_F(ReportFileTest, ReplacedReportKeepsItsLinkAndPermissions) {
    const fs::path real = dir / "real.TXT", link = dir / "link.TXT";
    std::string error;
    ASSERT_TRUE(writeReportFile(real.string(), "old\r\n", error)) << error;
    fs::permissions(real, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    fs::create_symlink(real, link);
    ASSERT_TRUE(writeReportFile(link.string(), "new\r\n", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(contents(real), "new\r\n");
    EXPECT_EQ(fs::status(real).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
