// SPDX-License-Identifier: GPL-3.0-or-later
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
    if (TermiosDevice::speedCode(settings.baud) == 0)
        return LinkFault{FaultKind::Settings, path + ": unsupported speed " + std::to_string(settings.baud),
                         0, path};
    if (LinkResult opened = device_.open(path); !opened) return opened;

    // The mode bit where the adapter reports it: with input checking and parity marking a driver
    // that flags errors per byte delivers a byte whose mode bit is 0 (a parity error under mark
    // parity, a framing error under the two-stop-bit fallback) as FF 00 x, an ordinary FF as
    // FF FF and the last byte of an answer as itself.
    LineSettings wanted = settings;
    wanted.markErrors = settings.parity == Parity::Mark;
    wanted.askForOneByte = false;
    LineSettings kept;
    if (LinkResult applied = device_.applyLine(wanted, kept); !applied) {
        device_.close();
        return applied;
    }
    markParity_ = settings.parity == Parity::Mark && kept.parity == Parity::Mark;
    if (settings.parity == Parity::Mark && !markParity_) {
        // The driver ignores mark parity: a second stop bit is high like the mark bit, so every
        // transmitted byte puts the same waveform on the wire.
        wanted.parity = Parity::None;
        wanted.twoStopBits = true;
        (void)device_.applyLine(wanted, kept);
    }
    marks_ = settings.parity == Parity::Mark && kept.markErrors;
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
