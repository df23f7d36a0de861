// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Runs the virtual validator (norvex-sim) for a test: its pseudo-terminal path, its command
// input and its JSON log.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace norvex::test {

inline std::string binDir() {
    if (const char* d = std::getenv("NORVEX_BIN"); d != nullptr && *d != '\0') return d;
#ifdef NORVEX_BIN_DIR
    return NORVEX_BIN_DIR;
#else
    return "bin";
#endif
}

class SimProcess {
public:
    // Extra arguments are passed through (for example "--loader" or "--no-pacing").
    explicit SimProcess(std::vector<std::string> args = {}, const std::string& logPath = "") {
        int out[2], in[2];
        if (::pipe(out) != 0 || ::pipe(in) != 0) return;
        std::vector<std::string> argv{binDir() + "/norvex-sim", "--ack-timeout-ms", ackWindow()};
        if (!logPath.empty()) {
            argv.push_back("--log");
            argv.push_back(logPath);
        }
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv;
        for (auto& a : argv)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, out[1], 1);
        posix_spawn_file_actions_adddup2(&fa, in[0], 0);
        posix_spawn_file_actions_addclose(&fa, out[0]);
        posix_spawn_file_actions_addclose(&fa, in[1]);
        if (posix_spawn(&pid_, cargv[0], &fa, nullptr, cargv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(out[1]);
        ::close(in[0]);
        out_ = out[0];
        in_ = in[1];
        path_ = readLine();
    }
    ~SimProcess() { stop(); }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; }
    bool running() const { return pid_ > 0 && !path_.empty(); }

    // A control command ("insert 0 escrow"); returns the simulator's answer line.
    std::string command(const std::string& line) { return commands({line}); }
    // Several commands in one write, so that the simulator carries them out back to back (no
    // POLL is answered in between); returns the first answer that is not "ok", or "ok".
    std::string commands(const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& l : lines)
            all += l + "\n";
        if (::write(in_, all.data(), all.size()) != static_cast<ssize_t>(all.size())) return "write failed";
        std::string result = "ok";
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::string reply = readLine();
            if (reply != "ok" && result == "ok") result = reply;
        }
        return result;
    }

    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (out_ >= 0) ::close(out_);
        if (in_ >= 0) ::close(in_);
        out_ = in_ = -1;
    }

    // The simulator's ACK window: MDB's 5 ms, as a validator has it. Only sanitizer builds, whose
    // programs answer several times slower, widen it (set NORVEX_SIM_ACK_MS).
    static std::string ackWindow() {
        const char* w = std::getenv("NORVEX_SIM_ACK_MS");
        return w && *w ? w : "5";
    }
    // True where the ACK window is widened: programs that answer several times slower may also
    // miss a record's time-out now and then and ask for it again.
    static bool slowBuild() { return ackWindow() != "5"; }

private:
    std::string readLine() {
        std::string line;
        char c;
        while (::read(out_, &c, 1) == 1) {
            if (c == '\n') break;
            line.push_back(c);
        }
        return line;
    }

    pid_t pid_ = -1;
    int out_ = -1, in_ = -1;
    std::string path_;
};

// The lines of a JSON log that contain all of the given fragments.
inline std::vector<std::string> logLines(const std::string& path, const std::vector<std::string>& fragments) {
    std::vector<std::string> out;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        bool all = true;
        for (const auto& f : fragments)
            all = all && line.find(f) != std::string::npos;
        if (all) out.push_back(line);
    }
    return out;
}

} // namespace norvex::test
