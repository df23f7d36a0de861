// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace simtest {

using Bytes = std::vector<std::uint8_t>;

// Low 8 bits of the sum: computed here again, not taken from the simulator's code.
std::uint8_t sum8(const Bytes& bytes, std::size_t count);
Bytes withSum(Bytes bytes);

// The compiled norvex-sim as a child process: arguments in, standard input as the control
// channel, standard output for the terminal path and the command replies.
class SimProcess {
public:
    explicit SimProcess(const std::vector<std::string>& args);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    const std::string& path() const { return path_; }
    // Sends one control line and returns the reply line ("" on time-out).
    std::string command(const std::string& line);
    std::string readLine(int timeoutMs);
    // SIGTERM, then the exit status (-1 when it did not end in time).
    int terminate();
    // Waits for the process to end by itself; its exit status, or -1 on time-out.
    int waitExit(int timeoutMs);

private:
    pid_t pid_ = -1;
    int toChild_ = -1;
    int fromChild_ = -1;
    std::string buffered_;
    std::string path_;
};

// A controller-side peer: the slave path opened with plain termios in raw mode.
class SerialPeer {
public:
    ~SerialPeer() { close(); }
    // Raw 8-bit input; `inputFlags` (termios c_iflag bits such as INPCK | PARMRK) are added.
    bool open(const std::string& path, unsigned inputFlags = 0);
    void close();
    void write(const Bytes& bytes);
    // Reads until `count` bytes have come or `timeoutMs` has passed.
    Bytes read(std::size_t count, int timeoutMs);
    // Reads until the line has been quiet for `quietMs`.
    Bytes readUntilQuiet(int quietMs);
    // Sends a frame and reads the expected number of answer bytes.
    Bytes transact(const Bytes& frame, std::size_t answerLength, int timeoutMs = 2000);

private:
    int fd_ = -1;
};

} // namespace simtest
