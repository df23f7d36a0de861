// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "download/ByteChannel.h"
#include "link/LinkFault.h"
#include "link/TermiosDevice.h"

#include <chrono>
#include <string>

namespace norvex::download {

// ByteChannel on a POSIX terminal device: 8 data bits, one stop bit, no parity, raw, no flow control,
// DTR and RTS raised while open. The open is exclusive (TIOCEXCL and a non-blocking flock), so a
// port held by another program fails the open. Modem-line calls that the device rejects (as a
// pseudo-terminal does) are ignored.
class PosixByteChannel : public ByteChannel {
public:
    explicit PosixByteChannel(std::string devicePath);
    ~PosixByteChannel() override;
    PosixByteChannel(const PosixByteChannel&) = delete;
    PosixByteChannel& operator=(const PosixByteChannel&) = delete;

    [[nodiscard]] bool write(const uint8_t* data, size_t length) override;
    size_t read(uint8_t* buf, size_t n, int timeoutMs) override;
    [[nodiscard]] bool
    reopen(int baud) override; // a speed the device offers (1200 to 115200); anything else fails
    void close() override;
    void delayMs(int ms) override;
    std::string openFailureReason() const override; // from the system, as START explains it

    // Discards unsent output and unread input.
    void purge() { device_.purge(); }

    bool isOpen() const { return device_.isOpen(); }
    const std::string& devicePath() const { return path_; }
    // Why the last reopen failed (kind None when it did not), and why the last write did.
    const link::LinkFault& openFault() const { return openFault_; }
    const link::LinkFault& writeFault() const { return writeFault_; }

    // A write gives up when the device takes no byte for this long (a stuck line). Longer than
    // the link's: a loader record is longer than a link frame, and the download, unlike the link
    // worker, holds up no close while it waits.
    static constexpr std::chrono::milliseconds WRITE_STALL{2000};

    // The loader's line: 8 data bits, no parity, one stop bit, an empty queue read as EAGAIN.
    static link::LineSettings loaderLine(std::uint32_t baud) {
        return {.baud = baud, .parity = link::Parity::None, .askForOneByte = true};
    }

private:
    std::string path_;
    link::TermiosDevice device_;
    link::LinkFault openFault_;
    link::LinkFault writeFault_;
};

} // namespace norvex::download
