// SPDX-License-Identifier: GPL-3.0-or-later
#include "TermiosDevice.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace norvex::link {

namespace {

using Clock = std::chrono::steady_clock;

std::string describe(const std::string& path, const char* what, int err) {
    return path + ": " + what + " (" + std::strerror(err) + ")";
}

// What an error number from opening or claiming a terminal means.
FaultKind openFaultKind(int err) {
    switch (err) {
    case ENOENT:
    case ENXIO:
    case ENODEV:
        return FaultKind::NotFound;
    case EACCES:
    case EPERM:
        return FaultKind::NoPermission;
    case EBUSY:
    case EWOULDBLOCK:
        return FaultKind::Busy;
    case ENOTTY:
        return FaultKind::NotSerial;
    default:
        return FaultKind::OpenFailed;
    }
}

int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

TermiosDevice::TermiosDevice(TermiosDevice&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), claim_(other.claim_),
      vanished_(other.vanished_.load()), receiveOnly_(other.receiveOnly_) {}

TermiosDevice& TermiosDevice::operator=(TermiosDevice&& other) noexcept {
    if (this != &other) {
        close();
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        claim_ = other.claim_;
        vanished_ = other.vanished_.load();
        receiveOnly_ = other.receiveOnly_;
    }
    return *this;
}

speed_t TermiosDevice::speedCode(std::uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return 0;
    }
}

LinkFault TermiosDevice::fault(FaultKind kind, std::string detail, int errorNumber) const {
    return LinkFault{kind, std::move(detail), errorNumber, path_};
}

LinkResult TermiosDevice::open(const std::string& path) {
    return openDevice(path, false);
}

LinkResult TermiosDevice::openReceiveOnly(const std::string& path) {
    return openDevice(path, true);
}

LinkResult TermiosDevice::openDevice(const std::string& path, bool receiveOnly) {
    close();
    path_ = path;
    vanished_ = false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        return fault(openFaultKind(err), describe(path, "no such port", err), err);
    }
    if (!S_ISCHR(st.st_mode)) return fault(FaultKind::NotSerial, path + ": not a serial device", ENOTTY);
    int fd = ::open(path.c_str(), (receiveOnly ? O_RDONLY : O_RDWR) | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fault(openFaultKind(err), describe(path, "cannot open", err), err);
    }
    // Exclusive use: another Norvex (or any program that locks) holds the flock; TIOCEXCL keeps
    // others from opening the device after us (root excepted). Closing gives both back.
    if (!claim_.take(fd)) {
        const int err = errno != 0 ? errno : EBUSY;
        ::close(fd);
        return fault(FaultKind::Busy, path + ": the port is in use by another program", err);
    }
    termios now{};
    if (::tcgetattr(fd, &now) != 0) {
        const int err = errno;
        claim_.release(fd);
        return fault(FaultKind::NotSerial, describe(path, "not a terminal", err), err);
    }
    fd_ = fd;
    receiveOnly_ = receiveOnly;
    return {};
}

bool TermiosDevice::settings(termios& now) const {
    return fd_ >= 0 && ::tcgetattr(fd_, &now) == 0;
}

LinkResult TermiosDevice::applyLine(const LineSettings& wanted, LineSettings& kept) {
    if (fd_ < 0) return fault(FaultKind::NotOpen, path_ + ": the port is not open", 0);
    termios tio{};
    (void)settings(tio);
    if (!makeTermios(wanted, tio))
        return fault(FaultKind::Settings, path_ + ": unsupported speed " + std::to_string(wanted.baud), 0);
    termios back{};
    if (LinkResult applied = apply(tio, back); !applied) return applied;
    kept = lineOf(back);
    return {};
}

bool TermiosDevice::makeTermios(const LineSettings& wanted, termios& tio) {
    const speed_t speed = speedCode(wanted.baud);
    if (speed == 0) return false;
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY | PARMRK | ISTRIP | IGNPAR | BRKINT);
    tio.c_iflag |= IGNBRK;
    if (wanted.markErrors) {
        // A zero byte with a mode bit of 0 may look like a line break to a UART; breaks are not
        // ignored, so it reads as FF 00 00 like any other flagged byte.
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK);
        tio.c_iflag |= INPCK | PARMRK;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    switch (wanted.parity) {
    case Parity::None:
        break;
    case Parity::Odd:
        tio.c_cflag |= PARENB | PARODD;
        break;
    case Parity::Even:
        tio.c_cflag |= PARENB;
        break;
    case Parity::Mark:
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
        break;
    case Parity::Space:
        tio.c_cflag |= PARENB | CMSPAR;
        break;
    }
    if (wanted.twoStopBits) tio.c_cflag |= CSTOPB;
    if (wanted.listenOnly) tio.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    tio.c_cc[VMIN] = wanted.askForOneByte ? 1 : 0;
    tio.c_cc[VTIME] = 0;
    return ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0;
}

LineSettings TermiosDevice::lineOf(const termios& tio) {
    LineSettings s;
    s.baud = 0;
    for (std::uint32_t baud : {1200u, 2400u, 4800u, 9600u, 19200u, 38400u, 57600u, 115200u})
        if (speedCode(baud) == ::cfgetospeed(&tio)) s.baud = baud;
    const tcflag_t c = tio.c_cflag;
    if (!(c & PARENB))
        s.parity = Parity::None;
    else if (c & CMSPAR)
        s.parity = (c & PARODD) ? Parity::Mark : Parity::Space;
    else
        s.parity = (c & PARODD) ? Parity::Odd : Parity::Even;
    s.twoStopBits = (c & CSTOPB) != 0;
    s.markErrors = (tio.c_iflag & PARMRK) != 0;
    s.askForOneByte = tio.c_cc[VMIN] != 0;
    return s;
}

LinkResult TermiosDevice::apply(const termios& wanted, termios& kept) {
    if (fd_ < 0) return fault(FaultKind::NotOpen, path_ + ": the port is not open", 0);
    if (::tcsetattr(fd_, TCSANOW, &wanted) != 0) {
        const int err = errno;
        return fault(FaultKind::Settings, describe(path_, "line settings refused", err), err);
    }
    if (::tcgetattr(fd_, &kept) != 0) {
        const int err = errno;
        return fault(FaultKind::Settings, describe(path_, "line settings unreadable", err), err);
    }
    return {};
}

std::size_t TermiosDevice::readSome(std::uint8_t* buffer, std::size_t max) {
    if (fd_ < 0 || vanished_ || max == 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, max);
        if (n > 0) return static_cast<std::size_t>(n);
        // A raw terminal with nothing queued answers 0 (or EAGAIN), and so does one that has
        // hung up: only the hang-up shows in poll.
        if (n == 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) vanished_ = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        // An error such as EIO: the device is gone (adapter unplugged).
        vanished_ = true;
        return 0;
    }
}

LinkResult TermiosDevice::write(const std::uint8_t* data, std::size_t length,
                                std::chrono::milliseconds stallLimit) {
    if (fd_ < 0) return fault(FaultKind::NotOpen, path_ + ": the port is not open", 0);
    if (receiveOnly_) return fault(FaultKind::NotOpen, path_ + ": open for listening only", EBADF);
    if (vanished_) return fault(FaultKind::Vanished, path_ + ": the port has gone", 0);
    std::size_t done = 0;
    auto stallDeadline = Clock::now() + stallLimit;
    while (done < length) {
        const ssize_t n = ::write(fd_, data + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            stallDeadline = Clock::now() + stallLimit;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            const int err = n < 0 ? errno : EIO;
            vanished_ = true;
            return fault(FaultKind::Vanished, describe(path_, "write failed", err), err);
        }
        const int left = remainingMs(stallDeadline);
        if (left == 0) return fault(FaultKind::Stalled, path_ + ": the port takes no bytes", 0);
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, left) < 0 && errno != EINTR) {
            const int err = errno;
            return fault(FaultKind::WaitFailed, describe(path_, "waiting to write failed", err), err);
        }
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
            vanished_ = true;
            return fault(FaultKind::Vanished, path_ + ": the port reported a hang-up or an error", 0);
        }
    }
    // Return once the bytes have left, so that a purge before the next frame cannot discard them.
    // A pseudo-terminal may refuse; the bytes are in the device either way.
    (void)::tcdrain(fd_);
    return {};
}

void TermiosDevice::purge() {
    if (fd_ >= 0) (void)::tcflush(fd_, TCIOFLUSH);
}

void TermiosDevice::setModemLines(int lines, bool on) {
    if (fd_ < 0 || receiveOnly_) return;
    (void)::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &lines);
}

void TermiosDevice::close() {
    if (receiveOnly_) claim_.keepModemLines();
    claim_.release(fd_); // the settings found restored, exclusive use cleared, closed
    receiveOnly_ = false;
}

} // namespace norvex::link
