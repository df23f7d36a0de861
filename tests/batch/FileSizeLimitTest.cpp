// SPDX-License-Identifier: GPL-3.0-or-later
// The programs themselves under a file-size limit (as a shell's "ulimit -f" sets it): a write
// past the limit must be a reported failure, not the end of the program by SIGXFSZ, and leave
// no file cut inside a record. The child keeps the signal's default action, as a program
// started from a shell has it. And settings files that are no files, which the programs must
// not wait on.

#include "BatchHarness.h"
#include "support/PcapReader.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace batchtest;

namespace {

struct Finished {
    bool exited = false;
    int status = -1; // exit status, or the signal when !exited
    std::string err;
};

std::string binary(const char* name) {
    const char* bin = std::getenv("NORVEX_BIN");
    return (bin && *bin ? std::string(bin) : std::string(NORVEX_BIN_DIR)) + "/" + name;
}

// Runs `argv` in `dir` with RLIMIT_FSIZE at `limit` bytes, feeding `input` to its standard input.
Finished runLimited(const std::vector<std::string>& argv, const fs::path& dir, rlim_t limit,
                    const std::string& input = "") {
    int in[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_DFL);
        const rlimit r{limit, limit};
        if (::setrlimit(RLIMIT_FSIZE, &r) != 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(err[1]);
    if (!input.empty()) {
        [[maybe_unused]] const ssize_t w = ::write(in[1], input.data(), input.size());
    }
    Finished f;
    char buf[512];
    bool silent = false;
    for (;;) {
        pollfd p{err[0], POLLIN, 0};
        if (::poll(&p, 1, 30000) <= 0) {
            silent = true;
            break;
        }
        const ssize_t n = ::read(err[0], buf, sizeof buf);
        if (n <= 0) break;
        f.err.append(buf, static_cast<std::size_t>(n));
    }
    ::close(in[1]);
    ::close(err[0]);
    int status = 0;
    // A program that still runs after its error stream fell silent this long hangs: it is ended.
    const bool reaped = silent && ::waitpid(pid, &status, WNOHANG) == pid;
    if (silent && !reaped) ::kill(pid, SIGKILL);
    if (!reaped) ::waitpid(pid, &status, 0);
    f.exited = WIFEXITED(status);
    f.status = f.exited ? WEXITSTATUS(status) : WTERMSIG(status);
    return f;
}

} // namespace

TEST(FileSizeLimit, BatchReportPastTheLimitEndsWithItsStatusAndKeepsTheEarlierReport) {
    TempDir dir;
    SimProcess sim({});
    ASSERT_FALSE(sim.path().empty());
    const std::string report = (dir / "Tavik_SN1.TXT").string();
    { std::ofstream(report, std::ios::binary) << "earlier report\r\n"; }
    // Room for the settings line, not for a report of three parts. No service history: the
    // limit would cut it short too, and the run must not write into the user's own.
    Args args{binary("norvex")};
    args = args + sim.port() + Args{"--poll-ms", "20", "--report", report, "--serial", "SN1", "--no-history"};
    const Finished run = runLimited(args, dir.path, 2048);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, norvex::batch::batch_status::FILE_FAILED) << run.err;
    EXPECT_TRUE(contains(run.err, "Log File Location: Cannot write " + report + ": File too large"))
        << run.err;
    EXPECT_EQ(readFile(report), "earlier report\r\n");
}

TEST(FileSizeLimit, SimulatorLogPastTheLimitIsReportedAndTheRunEndsWithStatusOne) {
    TempDir dir;
    const std::string log = (dir / "sim.jsonl").string();
    std::string commands;
    for (int i = 0; i < 20; ++i)
        commands += "stacker 10\n";
    commands += "end\n";
    const Finished run = runLimited({binary("norvex-sim"), "--log", log}, dir.path, 400, commands);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(contains(run.err, "norvex-sim: cannot write " + log + ": File too large")) << run.err;
    EXPECT_EQ(splitLines(run.err).size(), 1u) << "said once";
}

TEST(FileSizeLimit, ALiveCaptureCutByTheLimitEndsOnItsLastWholePacket) {
    TempDir dir;
    SimProcess sim({});
    ASSERT_FALSE(sim.path().empty());
    const std::string capture = (dir / "bus.pcap").string();
    // Room for the header and a few dozen packets: the limit falls inside one.
    Args args{binary("norvex")};
    args = args + sim.port() + Args{"--poll-ms", "20", "--pcap", capture, "--seconds", "10", "--no-history"};
    const Finished run = runLimited(args, dir.path, 1000);
    ASSERT_TRUE(run.exited) << "ended by signal " << run.status << "\n" << run.err;
    EXPECT_EQ(run.status, norvex::batch::batch_status::FILE_FAILED) << run.err;
    EXPECT_TRUE(contains(run.err, "cannot write the capture " + capture + ": File too large")) << run.err;
    const norvex::test::PcapFile pcap = norvex::test::readPcap(capture);
    EXPECT_TRUE(pcap.valid) << pcap.problem;
    EXPECT_GT(pcap.packets.size(), 5u);
    EXPECT_LE(fs::file_size(capture), 1000u);
}

TEST(FileSizeLimit, SettingsFilesThatAreNoFilesAreSaidAndNeverWaitedOn) {
    TempDir dir;
    const fs::path config = dir / "config" / "norvex";
    fs::create_directories(config);
    // A FIFO with no writer: opened for reading, it would block the program for good.
    ASSERT_EQ(::mkfifo((config / "ports.conf").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((config / "history.conf").c_str(), 0600), 0);
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    const Finished version = runLimited({binary("norvex"), "--version"}, dir.path, RLIM_INFINITY);
    ASSERT_TRUE(version.exited) << version.err;
    EXPECT_EQ(version.status, 0) << version.err;
    EXPECT_TRUE(contains(version.err, (config / "ports.conf").string() + " is a FIFO")) << version.err;

    SimProcess sim({});
    Args batch{binary("norvex")};
    batch = batch + sim.port() + Args{"--poll-ms", "20", "--seconds", "1"};
    ::setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
    ::setenv("XDG_STATE_HOME", dir.path.c_str(), 1);
    const Finished run = runLimited(batch, dir.path, RLIM_INFINITY);
    ASSERT_TRUE(run.exited) << run.err;
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.err, "ports.conf is a FIFO")) << run.err;
    EXPECT_TRUE(contains(run.err, "history.conf is a FIFO")) << run.err;
    ::unsetenv("XDG_CONFIG_HOME");
    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("XDG_STATE_HOME");
}
