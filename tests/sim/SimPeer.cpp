// SPDX-License-Identifier: GPL-3.0-or-later
#include "SimPeer.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace simtest {

namespace {
using Clock = std::chrono::steady_clock;
int msLeft(Clock::time_point end) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
} // namespace

std::uint8_t sum8(const Bytes& bytes, std::size_t count) {
    unsigned s = 0;
    for (std::size_t i = 0; i < count && i < bytes.size(); ++i)
        s += bytes[i];
    return static_cast<std::uint8_t>(s);
}

Bytes withSum(Bytes bytes) {
    bytes.push_back(sum8(bytes, bytes.size()));
    return bytes;
}

SimProcess::SimProcess(const std::vector<std::string>& args) {
    int in[2], out[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(in[0], STDIN_FILENO);
        ::dup2(out[1], STDOUT_FILENO);
        ::close(in[0]);
        ::close(in[1]);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(NORVEX_SIM_BINARY));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(NORVEX_SIM_BINARY, argv.data());
        ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    path_ = readLine(5000);
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && terminate() < 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (toChild_ >= 0) ::close(toChild_);
    if (fromChild_ >= 0) ::close(fromChild_);
}

std::string SimProcess::readLine(int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto eol = buffered_.find('\n');
        if (eol != std::string::npos) {
            std::string line = buffered_.substr(0, eol);
            buffered_.erase(0, eol + 1);
            return line;
        }
        pollfd p{fromChild_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(end)) <= 0) return "";
        char buf[256];
        const ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0) return "";
        buffered_.append(buf, static_cast<std::size_t>(n));
    }
}

std::string SimProcess::command(const std::string& line) {
    const std::string text = line + "\n";
    if (::write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    return readLine(2000);
}

int SimProcess::waitExit(int timeoutMs) {
    if (pid_ <= 0) return -1;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    do {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    } while (Clock::now() < end);
    return -1;
}

int SimProcess::terminate() {
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    return waitExit(3000);
}

bool SerialPeer::open(const std::string& path, unsigned inputFlags) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return false;
    termios t{};
    ::tcgetattr(fd_, &t);
    ::cfmakeraw(&t);
    t.c_iflag &= ~static_cast<tcflag_t>(INPCK | PARMRK | IGNPAR);
    t.c_iflag |= static_cast<tcflag_t>(inputFlags);
    t.c_cflag |= CLOCAL | CREAD;
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(fd_, TCSANOW, &t);
    return true;
}

void SerialPeer::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

void SerialPeer::write(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EAGAIN) {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 100);
        } else {
            return;
        }
    }
}

Bytes SerialPeer::read(std::size_t count, int timeoutMs) {
    Bytes out;
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < count) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, msLeft(end)) <= 0) break;
        std::uint8_t buf[512];
        const ssize_t n = ::read(fd_, buf, std::min(sizeof buf, count - out.size()));
        if (n <= 0) break;
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

Bytes SerialPeer::readUntilQuiet(int quietMs) {
    Bytes out;
    for (;;) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, quietMs) <= 0) return out;
        std::uint8_t buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n <= 0) return out;
        out.insert(out.end(), buf, buf + n);
    }
}

Bytes SerialPeer::transact(const Bytes& frame, std::size_t answerLength, int timeoutMs) {
    write(frame);
    return read(answerLength, timeoutMs);
}

} // namespace simtest
