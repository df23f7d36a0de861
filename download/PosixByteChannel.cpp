// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/PosixByteChannel.h"

#include "link/PortDiagnosis.h"

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>

namespace norvex::download {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

PosixByteChannel::PosixByteChannel(std::string devicePath) : path_(std::move(devicePath)) {}

PosixByteChannel::~PosixByteChannel() {
    close();
}

void PosixByteChannel::close() {
    if (!device_.isOpen()) return;
    device_.setModemLines(TIOCM_DTR, false);
    device_.purge();
    device_.close(); // exclusive use cleared, the settings found restored, the flock dropped
}

bool PosixByteChannel::reopen(int baud) {
    close();
    openFault_ = {};
    writeFault_ = {};
    const speed_t speed = baud > 0 ? link::TermiosDevice::speedCode(static_cast<std::uint32_t>(baud)) : 0;
    if (speed == 0) {
        openFault_ = {link::FaultKind::Settings, path_ + ": unsupported speed " + std::to_string(baud), 0,
                      path_};
        return false;
    }
    if (link::LinkResult opened = device_.open(path_); !opened) {
        openFault_ = opened.fault();
        return false;
    }
    // Asking for one byte makes an empty queue read as EAGAIN, so that only a hang-up reads as 0.
    link::LineSettings kept;
    if (link::LinkResult applied = device_.applyLine(loaderLine(static_cast<std::uint32_t>(baud)), kept);
        !applied) {
        openFault_ = applied.fault();
        device_.close();
        return false;
    }
    device_.purge();
    device_.setModemLines(TIOCM_DTR | TIOCM_RTS, true); // refused by pseudo-terminals
    return true;
}

std::string PosixByteChannel::openFailureReason() const {
    if (openFault_.errorNumber == 0) return {};
    return link::PortDiagnosis().explain(path_, openFault_.errorNumber).text;
}

bool PosixByteChannel::write(const uint8_t* data, size_t length) {
    link::LinkResult written = device_.write(data, length, WRITE_STALL);
    writeFault_ = written.fault();
    return written.ok();
}

size_t PosixByteChannel::read(uint8_t* buf, size_t n, int timeoutMs) {
    if (!device_.isOpen() || n == 0) return 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0);
    size_t got = 0;
    for (;;) {
        const size_t r = device_.readSome(buf + got, n - got);
        if (r > 0) {
            got += r;
            if (got == n) return got;
            continue;
        }
        if (device_.vanished()) return got; // hang-up or error
        const int left = remainingMs(deadline);
        if (left == 0) return got;
        pollfd pfd{device_.fd(), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, left);
        if (ready < 0 && errno != EINTR) return got;
        if (ready > 0 && !(pfd.revents & POLLIN)) return got; // hang-up or error without data
    }
}

void PosixByteChannel::delayMs(int ms) {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace norvex::download
