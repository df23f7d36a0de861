#include "TermiosPort.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace norvex::link {

namespace {

speed_t speedFor(std::uint32_t baud) {
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

LinkFault fault(FaultKind kind, std::string detail, int err, const std::string& path) {
    return LinkFault{kind, std::move(detail), err, path};
}

// USB adapters hold received bytes back for their latency timer; ask for low latency where the
// driver offers it (pseudo-terminals and plain UARTs refuse, which is fine).
void requestLowLatency(int fd) {
    struct serial_struct ss {};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &ss);
    }
}

} // namespace

LinkResult TermiosPort::open(const std::string& path, const LineSettings& settings) {
    close();
    failed_ = false;
    path_ = path;
    const speed_t speed = speedFor(settings.baud);
    if (speed == 0)
        return fault(FaultKind::Settings, path + ": unsupported speed " + std::to_string(settings.baud), 0,
                     path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        return fault(openFaultKind(err), describe(path, "no such port", err), err, path);
    }
    if (!S_ISCHR(st.st_mode))
        return fault(FaultKind::NotSerial, path + ": not a serial device", ENOTTY, path);
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fault(openFaultKind(err), describe(path, "cannot open", err), err, path);
    }
    // Exclusive use: another Norvex (or any program that locks) holds the flock; TIOCEXCL keeps
    // others from opening the device after us. Closing gives both back.
    if (!claim_.take(fd)) {
        const int err = errno != 0 ? errno : EBUSY;
        ::close(fd);
        return fault(FaultKind::Busy, path + ": the port is in use by another program", err, path);
    }

    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        const int err = errno;
        claim_.release(fd);
        return fault(FaultKind::NotSerial, describe(path, "not a terminal", err), err, path);
    }
    ::cfmakeraw(&tio);
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK | IXON | IXOFF | IXANY | PARMRK | ISTRIP | IGNPAR | BRKINT);
    tio.c_iflag |= IGNBRK;
    if (settings.parity == Parity::Mark) {
        // The mode bit where the adapter reports it: with input checking and parity marking a
        // driver that flags errors per byte delivers a byte whose mode bit is 0 (a parity error
        // under mark parity, a framing error under the two-stop-bit fallback) as FF 00 x, an
        // ordinary FF as FF FF and the last byte of an answer as itself. A zero byte with mode bit
        // 0 may look like a line break to a UART; breaks are not ignored, so it reads as FF 00 00
        // like any other flagged byte (a validator never sends a break).
        tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK);
        tio.c_iflag |= INPCK | PARMRK;
    }
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    switch (settings.parity) {
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
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        const int err = errno;
        claim_.release(fd);
        return fault(FaultKind::Settings, describe(path, "line settings refused", err), err, path);
    }
    markParity_ = false;
    if (settings.parity == Parity::Mark) {
        termios back{};
        if (::tcgetattr(fd, &back) == 0 &&
            (back.c_cflag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD | CMSPAR)) {
            markParity_ = true;
        } else {
            // The driver ignores mark parity: a second stop bit is high like the mark bit, so
            // every transmitted byte puts the same waveform on the wire.
            back.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
            back.c_cflag |= CSTOPB;
            (void)::tcsetattr(fd, TCSANOW, &back);
        }
    }
    marks_ = false;
    if (settings.parity == Parity::Mark) {
        termios now{};
        marks_ = ::tcgetattr(fd, &now) == 0 && (now.c_iflag & PARMRK) != 0;
    }
    requestLowLatency(fd);
    ::tcflush(fd, TCIOFLUSH);
    fd_ = fd;
    setDtr(true);
    const int rts = TIOCM_RTS;
    (void)::ioctl(fd_, TIOCMBIS, &rts); // pseudo-terminals refuse modem lines
    return {};
}

void TermiosPort::close() {
    claim_.release(fd_);
}

std::size_t TermiosPort::read(std::uint8_t* buffer, std::size_t max) {
    if (fd_ < 0 || failed_ || max == 0) return 0;
    for (;;) {
        const ssize_t n = ::read(fd_, buffer, max);
        if (n > 0) return static_cast<std::size_t>(n);
        // A raw terminal with nothing queued answers 0 (or EAGAIN), and so does one that has
        // hung up: only the hang-up shows in poll.
        if (n == 0) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) failed_ = true;
            return 0;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        // An error such as EIO: the device is gone (adapter unplugged).
        failed_ = true;
        return 0;
    }
}

LinkResult TermiosPort::write(const std::uint8_t* buffer, std::size_t length) {
    if (fd_ < 0) return fault(FaultKind::NotOpen, "the port is not open", 0, path_);
    if (failed_) return fault(FaultKind::Vanished, path_ + ": the port has gone", 0, path_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(1000);
    std::size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd_, buffer + done, length - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return fault(FaultKind::Stalled, path_ + ": the port takes no bytes", 0, path_);
            pollfd p{fd_, POLLOUT, 0};
            (void)::poll(&p, 1, static_cast<int>(left.count()));
            continue;
        }
        const int err = errno;
        failed_ = true;
        return fault(FaultKind::Vanished, describe(path_, "write failed", err), err, path_);
    }
    // Return once the bytes have left, so that a purge before the next frame cannot discard them.
    (void)::tcdrain(fd_);
    return {};
}

void TermiosPort::purge() {
    if (fd_ >= 0) ::tcflush(fd_, TCIOFLUSH);
}

void TermiosPort::setDtr(bool on) {
    if (fd_ < 0) return;
    const int dtr = TIOCM_DTR;
    (void)::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &dtr);
}

} // namespace norvex::link
