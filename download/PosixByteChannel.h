#pragma once

#include "download/ByteChannel.h"
#include "link/TerminalClaim.h"

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

    bool write(const uint8_t* data, size_t length) override;
    size_t read(uint8_t* buf, size_t n, int timeoutMs) override;
    bool reopen(int baud) override; // 9600, 19200, 38400, 57600 or 115200; anything else fails
    void close() override;
    void delayMs(int ms) override;
    std::string openFailureReason() const override; // from the system, as START explains it

    bool isOpen() const { return fd_ >= 0; }
    const std::string& devicePath() const { return path_; }

    // A write gives up when the device takes no byte for this long (a stuck line).
    static constexpr int WRITE_STALL_MS = 2000;

    // The loader's line, made from the settings found on the terminal: raw, 8 data bits, one stop
    // bit, no parity, no flow control, at `speed` both ways. False for a speed termios refuses.
    static bool loaderLine(termios& tio, speed_t speed);

private:
    std::string path_;
    int fd_ = -1;
    int openErrno_ = 0; // what the last failed open left (0: it did not fail, or no open was made)
    link::TerminalClaim claim_;
};

} // namespace norvex::download
