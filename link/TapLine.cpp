// SPDX-License-Identifier: GPL-3.0-or-later
#include "TapLine.h"

#include <algorithm>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace norvex::link {

namespace {

// USB adapters hold received bytes back for their latency timer: the read times would be late
// by as much. Low latency where the driver offers it (a driver setting; no line moves).
void requestLowLatency(int fd) {
    struct serial_struct ss {};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0 && !(ss.flags & ASYNC_LOW_LATENCY)) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &ss);
    }
}

} // namespace

LinkResult TapLine::open(const std::string& path) {
    close();
    if (LinkResult opened = device_.openReceiveOnly(path); !opened) return opened;
    // A byte with a mode bit of 0 fails mark parity: delivered as FF 00 x (a break as FF 00 00).
    LineSettings wanted{.baud = 9600, .parity = Parity::Mark, .markErrors = true, .listenOnly = true};
    LineSettings kept;
    if (LinkResult applied = device_.applyLine(wanted, kept); !applied) {
        device_.close();
        return applied;
    }
    markParity_ = kept.parity == Parity::Mark;
    if (!markParity_) {
        // No mark parity in the driver: with two stop bits a mode bit of 0 sits where the second
        // stop bit belongs, and fails as a framing error instead.
        wanted.parity = Parity::None;
        wanted.twoStopBits = true;
        (void)device_.applyLine(wanted, kept);
    }
    marks_ = kept.markErrors;
    decoder_.reset();
    requestLowLatency(device_.fd());
    // What came before we listened has no read time worth keeping.
    (void)::tcflush(device_.fd(), TCIFLUSH);
    return {};
}

void TapLine::close() {
    device_.close();
    decoder_.reset();
}

std::size_t TapLine::read(LineByte* out, std::size_t max) {
    const std::size_t n = device_.readSome(raw_.data(), std::min(max, raw_.size()));
    if (!marks_) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = {raw_[i], false};
        return n;
    }
    return decoder_.decode(raw_.data(), n, out);
}

} // namespace norvex::link
