// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself (norvex --batch), run by an ordinary user, stopped by a signal while the
// validator holds a bill in escrow: the ESCROW frame the bill needs reaches the validator (at its
// real 5 ms acknowledge window) before the port closes, the run ends with its documented status,
// and the next run opens the port at once. SIGKILL, which no program can handle, leaves the port
// marked for exclusive use, and the next run says so.

#include "BatchHarness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace batchtest;
using namespace std::chrono_literals;

namespace {

constexpr uid_t NOBODY = 65534;
// BatchRun::status for a run the signal killed, apart from any exit status.
constexpr int KILLED_BY = 1000;

// `norvex ARGS` as an ordinary user (nobody, when the tests run as root), with its standard output
// and error in one pipe and the signals as a shell leaves them.
class BatchRun {
public:
    explicit BatchRun(const Args& args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        const char* bin = std::getenv("NORVEX_BIN");
        const std::string program =
            (bin && *bin ? std::string(bin) : std::string(NORVEX_BIN_DIR)) + "/norvex";
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
                 ::setresuid(NOBODY, NOBODY, NOBODY) != 0))
                ::_exit(126);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        out_ = out[0];
    }
    ~BatchRun() {
        if (pid_ > 0 && status_ < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;

    // Reads its output until `text` has come (true) or the output ends or 10 s pass; with an
    // empty `text`, until the output ends.
    bool waitFor(const std::string& text) {
        char buf[512];
        pollfd p{out_, POLLIN, 0};
        while (text.empty() || !contains(said, text)) {
            if (::poll(&p, 1, 10000) <= 0) return false;
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) return false;
            said.append(buf, static_cast<std::size_t>(n));
        }
        return true;
    }
    void signal(int s) { ::kill(pid_, s); }
    // The exit status, or KILLED_BY + the signal that killed it (its output read to the end).
    int status() {
        waitFor({});
        int raw = 0;
        ::waitpid(pid_, &raw, 0);
        status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : KILLED_BY + WTERMSIG(raw);
        return status_;
    }

    std::string said;

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = -1;
};

} // namespace

TEST(BatchSignals, EachStopSignalSettlesTheEscrowedBillAndReleasesThePortForTheNextRun) {
    std::mt19937 random(std::random_device{}());
    const char* window = std::getenv("NORVEX_SIM_ACK_MS");
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        TempDir dir;
        const std::string log = (dir / "sim.jsonl").string(), report = (dir / "r.TXT").string();
        ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0);
        SimProcess sim({"--ack-timeout-ms", window && *window ? window : "5", "--log", log});
        ASSERT_EQ(::chmod(sim.path().c_str(), 0666), 0); // the ordinary user's to open
        const Args batch = sim.port() + Args{"--no-history"};

        // A report still to come, so that the stop shows in the status. The bill goes in once the
        // start-up sequence has enabled the bill types; the automatic return is asked for with the
        // escrowed bill and goes out at the next tick: the signal comes around it.
        BatchRun run(batch + Args{"--poll-ms", "100", "--report", report});
        for (int i = 0; i < 500 && !contains(readFile(log), "\"frame\":\"34 "); ++i)
            std::this_thread::sleep_for(10ms);
        ASSERT_TRUE(sim.command("insert 1 escrow"));
        ASSERT_TRUE(run.waitFor(" event (91h) bill escrowed : 2.00\n")) << run.said;
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 120)(random)));
        run.signal(signal);
        EXPECT_EQ(run.status(), signal == SIGKILL ? KILLED_BY + SIGKILL : 128 + signal) << run.said;
        EXPECT_FALSE(fs::exists(report));
        if (signal != SIGKILL) {
            std::string text;
            for (int i = 0; i < 100 && !contains(text = readFile(log), "client_closed"); ++i)
                std::this_thread::sleep_for(10ms);
            const auto returned = text.find("\"frame\":\"35 00 35\"");
            ASSERT_NE(returned, std::string::npos) << text;
            EXPECT_LT(returned, text.find("\"event\":\"client_closed\"")) << "sent before the port closed";
        }

        BatchRun next(batch + Args{"--poll-ms", "50", "--seconds", "1"});
        if (signal != SIGKILL) {
            EXPECT_EQ(next.status(), norvex::batch::batch_status::OK) << next.said;
        } else {
            EXPECT_EQ(next.status(), norvex::batch::batch_status::NO_CONNECTION) << next.said;
            EXPECT_TRUE(contains(next.said, sim.path() +
                                                " is still marked for exclusive use, but no program has it "
                                                "open"))
                << next.said;
        }
    }
}
