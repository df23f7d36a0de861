// SPDX-License-Identifier: GPL-3.0-or-later
#include "PtyLoaderPeer.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

namespace norvex::download::testing {

PtyLoaderPeer::PtyLoaderPeer(LoaderBehaviour behaviour) : model_(std::move(behaviour)) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error("no pseudo-terminal");
    slave_ = ::ptsname(master_);
    thread_ = std::thread([this] { run(); });
}

PtyLoaderPeer::~PtyLoaderPeer() {
    stop();
    if (master_ >= 0) ::close(master_);
}

void PtyLoaderPeer::stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
}

// On a pseudo-terminal the master reads the slave's line settings.
int PtyLoaderPeer::currentBaud() const {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) return 0;
    switch (::cfgetospeed(&tio)) {
    case B9600:
        return 9600;
    case B38400:
        return 38400;
    default:
        return 0;
    }
}

std::string PtyLoaderPeer::currentLine() const {
    termios tio{};
    if (::tcgetattr(master_, &tio) != 0) return "unreadable";
    const tcflag_t size = tio.c_cflag & CSIZE;
    std::string line = std::to_string(currentBaud()) + " baud, " +
                       (size == CS8   ? "8"
                        : size == CS7 ? "7"
                        : size == CS6 ? "6"
                                      : "5") +
                       " data bits, ";
    line += (tio.c_cflag & PARENB) ? "parity" : "no parity";
    line += (tio.c_cflag & CRTSCTS) ? ", RTS/CTS" : "";
    line += (tio.c_iflag & (IXON | IXOFF)) ? ", XON/XOFF" : "";
    if (!(tio.c_cflag & CRTSCTS) && !(tio.c_iflag & (IXON | IXOFF))) line += ", no flow control";
    return line;
}

void PtyLoaderPeer::run() {
    uint8_t buf[4096];
    while (!stop_) {
        pollfd pfd{master_, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0) continue;
        if (!(pfd.revents & POLLIN)) {
            // No slave open (between the tool's close and reopen): wait for it.
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        const ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            continue;
        }
        fromTool_ += static_cast<size_t>(n);
        model_.setBaud(currentBaud());
        if (std::string line = currentLine(); lines_.empty() || lines_.back() != line) lines_.push_back(line);
        const std::vector<uint8_t> answer = model_.feed(buf, static_cast<size_t>(n));
        size_t done = 0;
        while (done < answer.size()) {
            const ssize_t w = ::write(master_, answer.data() + done, answer.size() - done);
            if (w > 0)
                done += static_cast<size_t>(w);
            else if (w < 0 && errno != EINTR && errno != EAGAIN)
                break;
        }
        toTool_ += done;
    }
}

} // namespace norvex::download::testing
