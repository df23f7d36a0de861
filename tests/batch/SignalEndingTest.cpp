// The program itself (norvex --batch) ended by a signal while the validator holds a bill in
// escrow, run by an ordinary user against the virtual validator at its real 5 ms acknowledge
// window: the ESCROW frame the bill needs reaches the validator before the port closes, the run
// ends with its documented status, and the next run opens the port at once. SIGKILL, which no
// program can handle, leaves the port marked for exclusive use, and the next run says so.

#include "BatchHarness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <functional>
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
// Program::wait's answer for a program the signal killed, apart from any exit status.
constexpr int KILLED_BY = 1000;

std::string binary(const char* name) {
    const char* bin = std::getenv("NORVEX_BIN");
    return (bin && *bin ? std::string(bin) : std::string(NORVEX_BIN_DIR)) + "/" + name;
}

// A program run as an ordinary user (nobody, when the tests run as root): its standard input is
// a pipe of ours, its standard output and error another.
class Program {
public:
    explicit Program(const std::vector<std::string>& argv) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], STDIN_FILENO);
            ::dup2(out[1], STDOUT_FILENO);
            ::dup2(out[1], STDERR_FILENO);
            ::fcntl(STDIN_FILENO, F_SETFD, 0);
            ::fcntl(STDOUT_FILENO, F_SETFD, 0);
            ::fcntl(STDERR_FILENO, F_SETFD, 0);
            // A test child may inherit blocked or ignored signals; the program starts as from a shell.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            for (int s : {SIGINT, SIGTERM, SIGHUP})
                std::signal(s, SIG_DFL);
            if (::geteuid() == 0 &&
                (::setgroups(0, nullptr) != 0 || ::setresgid(NOBODY, NOBODY, NOBODY) != 0 ||
                 ::setresuid(NOBODY, NOBODY, NOBODY) != 0))
                ::_exit(126);
            std::vector<char*> args;
            for (const auto& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        in_ = in[1];
        out_ = out[0];
    }
    ~Program() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0) ::close(in_);
        if (out_ >= 0) ::close(out_);
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    // The next line of its output; "" at its end or after `limit`.
    std::string readLine(std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        for (;;) {
            if (const auto eol = buffered_.find('\n'); eol != std::string::npos) {
                std::string line = buffered_.substr(0, eol);
                buffered_.erase(0, eol + 1);
                return line;
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            pollfd p{out_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return "";
            char buf[512];
            const ssize_t n = ::read(out_, buf, sizeof buf);
            if (n <= 0) return "";
            buffered_.append(buf, static_cast<std::size_t>(n));
        }
    }
    void write(const std::string& line) {
        const std::string text = line + "\n";
        [[maybe_unused]] const ssize_t n = ::write(in_, text.data(), text.size());
    }
    void signal(int s) { ::kill(pid_, s); }
    // The exit status, or KILLED_BY + the signal that killed it; -1 when it has not ended within
    // `limit`.
    int wait(std::chrono::milliseconds limit = 10s) {
        const auto end = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) != pid_) {
            if (std::chrono::steady_clock::now() >= end) return -1;
            std::this_thread::sleep_for(5ms);
        }
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : KILLED_BY + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    bool waited_ = false;
    std::string buffered_;
};

// The validator's real acknowledge window, widened only where a sanitizer build says so.
std::string ackWindow() {
    const char* w = std::getenv("NORVEX_SIM_ACK_MS");
    return w && *w ? w : "5";
}

bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

} // namespace

TEST(BatchSignals, EachStopSignalReturnsTheEscrowedBillAndReleasesThePortForTheNextRun) {
    std::mt19937 random(std::random_device{}());
    for (const int signal : {SIGTERM, SIGHUP, SIGINT, SIGKILL}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path.c_str(), 0777), 0); // the ordinary user writes here
        const std::string log = (dir / "sim.jsonl").string(), report = (dir / "r.TXT").string();
        Program sim({binary("norvex-sim"), "--ack-timeout-ms", ackWindow(), "--log", log});
        const std::string pty = sim.readLine();
        ASSERT_EQ(pty.rfind("/dev/pts/", 0), 0u) << pty;
        const std::vector<std::string> batch{binary("norvex"), "--batch", "--port",      "COM1=" + pty,
                                             "--com",          "1",       "--no-history"};

        // With a report still to come, so that the stop must show in the status; the bill goes
        // in once the start-up sequence has enabled the bill types.
        Program run(batch + Args{"--poll-ms", "100", "--report", report});
        ASSERT_TRUE(waitFor([&] { return contains(readFile(log), "\"frame\":\"34 "); }, 10s))
            << readFile(log);
        sim.write("insert 1 escrow");
        std::string line;
        while (!contains(line, " event (91h) bill escrowed : 2.00") && !(line = run.readLine()).empty()) {
        }
        ASSERT_TRUE(contains(line, "bill escrowed")) << "no escrowed bill";
        // The automatic return is asked for now and goes out at the next tick: stop around it.
        std::this_thread::sleep_for(
            std::chrono::milliseconds(std::uniform_int_distribution<int>(0, 120)(random)));
        run.signal(signal);
        // Ended by itself, with the status of a program stopped before its work was done.
        EXPECT_EQ(run.wait(), signal == SIGKILL ? KILLED_BY + SIGKILL : 128 + signal);
        EXPECT_FALSE(fs::exists(report));

        // The ESCROW frame came before the validator saw the port close.
        ASSERT_TRUE(waitFor([&] { return contains(readFile(log), "client_closed"); }, 5s));
        const std::string text = readFile(log);
        if (signal != SIGKILL) {
            const auto returned = text.find("\"frame\":\"35 00 35\"");
            ASSERT_NE(returned, std::string::npos) << text;
            EXPECT_LT(returned, text.find("\"event\":\"client_closed\"")) << text;
        }

        // The next run, at once: it opens the port; after SIGKILL it says why it cannot.
        Program next(batch + Args{"--poll-ms", "50", "--seconds", "1"});
        std::string said;
        for (std::string l; !(l = next.readLine()).empty();)
            said += l + "\n";
        if (signal != SIGKILL) {
            EXPECT_EQ(next.wait(), norvex::batch::batch_status::OK) << said;
        } else {
            EXPECT_EQ(next.wait(), norvex::batch::batch_status::NO_CONNECTION) << said;
            EXPECT_TRUE(
                contains(said, pty + " is still marked for exclusive use, but no program has it open"))
                << said;
            EXPECT_FALSE(contains(said, "Another program holds")) << said;
        }
    }
}
