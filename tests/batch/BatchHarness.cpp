// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchHarness.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace batchtest {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string jsonText(const std::string& line, const std::string& key) {
    const std::string head = "\"" + key + "\":\"";
    const auto at = line.find(head);
    if (at == std::string::npos) return {};
    return line.substr(at + head.size(), line.find('"', at + head.size()) - at - head.size());
}

Args operator+(Args a, const Args& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TempDir::TempDir() {
    static std::atomic<int> counter{0};
    path = fs::temp_directory_path() /
           ("norvex-batch-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    fs::remove_all(path);
    fs::create_directories(path);
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(path, ec);
}

SimProcess::SimProcess(const Args& args) {
    // NORVEX_BIN when the environment names it, else the simulator of this build.
    const char* bin = std::getenv("NORVEX_BIN");
    const std::string binary =
        bin && *bin ? std::string(bin) + "/norvex-sim" : std::string(NORVEX_SIM_BINARY);
    int in[2], out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        // dup2 onto the same number keeps close-on-exec.
        ::fcntl(STDIN_FILENO, F_SETFD, 0);
        ::fcntl(STDOUT_FILENO, F_SETFD, 0);
        // The simulator's ACK window as the other end-to-end tests have it: MDB's 5 ms, wider
        // only for sanitizer builds.
        const char* window = std::getenv("NORVEX_SIM_ACK_MS");
        const std::string ackMs = window && *window ? window : "5";
        std::vector<char*> argv{const_cast<char*>(binary.c_str()), const_cast<char*>("--ack-timeout-ms"),
                                const_cast<char*>(ackMs.c_str())};
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(binary.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    path_ = readLine(5000);
}

SimProcess::~SimProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < 300 && ::waitpid(pid_, &status, WNOHANG) != pid_; ++i) {
            if (i == 299) {
                ::kill(pid_, SIGKILL);
                ::waitpid(pid_, &status, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
}

std::string SimProcess::readLine(int timeoutMs) {
    for (;;) {
        if (const auto eol = buffered_.find('\n'); eol != std::string::npos) {
            std::string line = buffered_.substr(0, eol);
            buffered_.erase(0, eol + 1);
            return line;
        }
        pollfd p{fromChild_, POLLIN, 0};
        char buf[256];
        if (::poll(&p, 1, timeoutMs) <= 0) return "";
        const ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0) return "";
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

bool SimProcess::command(const std::string& line) {
    const std::string text = line + "\n";
    return ::write(toChild_, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
           readLine(2000) == "ok";
}

namespace {

// A run keeps its service history where the user's data lives. Unless the test chose a place
// itself, that is the run's own directory for as long as the run lasts, so that tests never
// add readings to the history of the user who runs them.
class HistoryInTestDirectory {
public:
    explicit HistoryInTestDirectory(const fs::path& dir) : chosen_(std::getenv("XDG_DATA_HOME") == nullptr) {
        if (!chosen_) return;
        ::setenv("XDG_DATA_HOME", dir.c_str(), 1);
        // The outbox too: it lives in the user's state.
        stateChosen_ = std::getenv("XDG_STATE_HOME") == nullptr;
        if (stateChosen_) ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
        const char* config = std::getenv("XDG_CONFIG_HOME");
        if (config != nullptr) savedConfig_ = config;
        hadConfig_ = config != nullptr;
        ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    }
    ~HistoryInTestDirectory() {
        if (!chosen_) return;
        ::unsetenv("XDG_DATA_HOME");
        if (stateChosen_) ::unsetenv("XDG_STATE_HOME");
        if (hadConfig_)
            ::setenv("XDG_CONFIG_HOME", savedConfig_.c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
    }
    HistoryInTestDirectory(const HistoryInTestDirectory&) = delete;
    HistoryInTestDirectory& operator=(const HistoryInTestDirectory&) = delete;

private:
    bool chosen_;
    bool stateChosen_ = false;
    bool hadConfig_ = false;
    std::string savedConfig_;
};

} // namespace

DirectRun::DirectRun(const Args& args, const TempDir& dir) {
    const HistoryInTestDirectory history(dir.path);
    norvex::batch::BatchOptions options;
    std::string error;
    if (!norvex::batch::parseBatchArguments(args, options, error)) {
        err = error;
        return;
    }
    char *outBuf = nullptr, *errBuf = nullptr;
    std::size_t outSize = 0, errSize = 0;
    norvex::batch::BatchEnvironment env;
    env.out = open_memstream(&outBuf, &outSize);
    env.err = open_memstream(&errBuf, &errSize);
    env.settingsDir = dir.path.string();
    // The ports dialog's assignments, where a test wrote them.
    if (fs::exists(dir / "ports.conf")) env.portsFile = (dir / "ports.conf").string();
    env.clock = [] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = 6;
        t.tm_hour = 9;
        t.tm_min = 5;
        t.tm_sec = 3;
        return t;
    };
    runner = std::make_unique<norvex::batch::BatchRunner>(options, env);
    status = runner->run();
    std::fclose(env.out);
    std::fclose(env.err);
    out.assign(outBuf, outSize);
    err.assign(errBuf, errSize);
    std::free(outBuf);
    std::free(errBuf);
}

} // namespace batchtest
