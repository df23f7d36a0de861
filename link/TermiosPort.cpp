#include "TermiosPort.h"

#include <linux/serial.h>
#include <string>
#include <sys/ioctl.h>
#include <termios.h>

namespace norvex::link {

namespace {

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
    const speed_t speed = TermiosDevice::speedCode(settings.baud);
    if (speed == 0)
        return LinkFault{FaultKind::Settings, path + ": unsupported speed " + std::to_string(settings.baud),
                         0, path};
    if (LinkResult opened = device_.open(path); !opened) return opened;

    termios tio{};
    (void)device_.settings(tio);
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
    termios back{};
    if (LinkResult applied = device_.apply(tio, back); !applied) {
        device_.close();
        return applied;
    }
    markParity_ = false;
    if (settings.parity == Parity::Mark) {
        if ((back.c_cflag & (PARENB | PARODD | CMSPAR)) == (PARENB | PARODD | CMSPAR)) {
            markParity_ = true;
        } else {
            // The driver ignores mark parity: a second stop bit is high like the mark bit, so
            // every transmitted byte puts the same waveform on the wire.
            back.c_cflag &= ~static_cast<tcflag_t>(PARENB | PARODD | CMSPAR);
            back.c_cflag |= CSTOPB;
            (void)device_.apply(back, back);
        }
    }
    marks_ = false;
    if (settings.parity == Parity::Mark) {
        termios now{};
        marks_ = device_.settings(now) && (now.c_iflag & PARMRK) != 0;
    }
    requestLowLatency(device_.fd());
    device_.purge();
    device_.setModemLines(TIOCM_DTR | TIOCM_RTS, true); // pseudo-terminals refuse modem lines
    return {};
}

void TermiosPort::close() {
    device_.close();
}

std::size_t TermiosPort::read(std::uint8_t* buffer, std::size_t max) {
    return device_.readSome(buffer, max);
}

LinkResult TermiosPort::write(const std::uint8_t* buffer, std::size_t length) {
    return device_.write(buffer, length, WRITE_STALL);
}

void TermiosPort::purge() {
    device_.purge();
}

void TermiosPort::setDtr(bool on) {
    device_.setModemLines(TIOCM_DTR, on);
}

} // namespace norvex::link
