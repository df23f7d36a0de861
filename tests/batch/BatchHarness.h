// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Batch runs in-process against the virtual validator: the compiled norvex-sim as a child
// process (its pseudo-terminal path on its first output line, commands on its standard input)
// and a run whose output streams are kept in memory.

#include "ui/batch/BatchRunner.h"

#include <filesystem>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace batchtest {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

std::string readFile(const fs::path& p);
std::vector<std::string> splitLines(const std::string& text); // on '\n', without it
bool contains(const std::string& text, const std::string& part);
// The value of "key":"..." in a JSON log line; empty when absent.
std::string jsonText(const std::string& line, const std::string& key);

// A fresh directory, removed at the end.
struct TempDir {
    fs::path path;
    TempDir();
    ~TempDir();
    fs::path operator/(const std::string& name) const { return path / name; }
};

class SimProcess {
public:
    explicit SimProcess(const Args& args);
    ~SimProcess();
    const std::string& path() const { return path_; }
    // Sends one control line; true when the simulator answers "ok".
    bool command(const std::string& line);
    // The batch arguments that put COM1 on the simulator's terminal.
    Args port() const { return {"--batch", "--port", "COM1=" + path_, "--com", "1"}; }

private:
    std::string readLine(int timeoutMs);
    pid_t pid_ = -1;
    int toChild_ = -1, fromChild_ = -1;
    std::string buffered_, path_;
};

// One batch run on the calling thread; the report's clock stands at 6 December 2026 09:05:03.
struct DirectRun {
    DirectRun(const Args& args, const TempDir& dir);
    std::unique_ptr<norvex::batch::BatchRunner> runner;
    int status = -1;
    std::string out, err;
};

Args operator+(Args a, const Args& b);

} // namespace batchtest
