#include "TapLine.h"

#include <algorithm>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace norvex::link {

namespace {

constexpr tcflag_t MARK_PARITY = PARENB | PARODD | CMSPAR;

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
    termios tio{};
    (void)device_.settings(tio);
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | IGNBRK | BRKINT | IGNPAR | ISTRIP);
    // A byte with a mode bit of 0 fails mark parity: delivered as FF 00 x (a break as FF 00 00).
    tio.c_iflag |= INPCK | PARMRK;
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CSTOPB | CRTSCTS | HUPCL | MARK_PARITY);
    tio.c_cflag |= CS8 | CLOCAL | CREAD | MARK_PARITY;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    termios back{};
    if (LinkResult applied = device_.apply(tio, back); !applied) {
        device_.close();
        return applied;
    }
    markParity_ = (back.c_cflag & MARK_PARITY) == MARK_PARITY;
    if (!markParity_) {
        // No mark parity in the driver: with two stop bits a mode bit of 0 sits where the second
        // stop bit belongs, and fails as a framing error instead.
        back.c_cflag &= ~MARK_PARITY;
        back.c_cflag |= CSTOPB;
        (void)device_.apply(back, back);
    }
    termios now{};
    marks_ = device_.settings(now) && (now.c_iflag & PARMRK) != 0;
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
