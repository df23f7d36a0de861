// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A POSIX terminal device held for exclusive use: the descriptor (move-only), the open with the
// lock, line settings with read-back, writes with a stall limit, purge, modem lines, and a close
// that gives the terminal back as it was found. Both users of a serial port are adapters over
// this: the link (TermiosPort: mark parity, marked input) and the firmware download
// (PosixByteChannel: 8N1 for the loader).

#include "LineSettings.h"
#include "LinkFault.h"
#include "TerminalClaim.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <termios.h>

namespace norvex::link {

class TermiosDevice {
public:
    TermiosDevice() = default;
    ~TermiosDevice() { close(); }
    TermiosDevice(TermiosDevice&& other) noexcept;
    TermiosDevice& operator=(TermiosDevice&& other) noexcept;
    TermiosDevice(const TermiosDevice&) = delete;
    TermiosDevice& operator=(const TermiosDevice&) = delete;

    // The termios code for a speed in baud: 1200 to 115200 in the usual steps; 0 for any other.
    static speed_t speedCode(std::uint32_t baud);

    // Closes what is open, then opens `path` (a character device that is a terminal) without
    // blocking and takes it for exclusive use: a flock (another program holding it: Busy) and
    // TIOCEXCL. The settings found are kept for close().
    LinkResult open(const std::string& path);
    // The same for listening only (a tap on a machine's bus): opened read-only, so that no byte
    // can be written into the line, and never a modem line set. Closing gives the settings found
    // back without hang-up on close: a close with hang-up would drop DTR and RTS.
    LinkResult openReceiveOnly(const std::string& path);

    // Raw 8-bit line settings from what the user asks for: `wanted` applied at once, and what the
    // driver kept read back into `kept` (a driver drops what it cannot do, such as mark parity on
    // a pseudo-terminal). An unsupported speed fails as Settings and changes nothing.
    LinkResult applyLine(const LineSettings& wanted, LineSettings& kept);
    // What termios settings mean as line settings, and the other way round: `tio` (the settings
    // found) made raw with 8 data bits and no flow control as `wanted` says; false for a speed
    // that is not in the table.
    static LineSettings lineOf(const termios& tio);
    static bool makeTermios(const LineSettings& wanted, termios& tio);

    // The terminal's current line settings; false when it has none (not open).
    bool settings(termios& now) const;
    // Applies `wanted` at once and reads back what the driver kept into `kept` (a driver drops
    // what it cannot do, such as mark parity on a pseudo-terminal).
    LinkResult apply(const termios& wanted, termios& kept);

    // Bytes already received, at most max; never waits. A hang-up or a device error marks the
    // device vanished and reads 0 from then on.
    std::size_t readSome(std::uint8_t* buffer, std::size_t max);
    // Writes all bytes and returns once they have left (as far as the driver says). Gives up
    // (Stalled) when the device takes no byte for `stallLimit`; Vanished when it reports an error
    // or a hang-up.
    LinkResult write(const std::uint8_t* data, std::size_t length, std::chrono::milliseconds stallLimit);
    // Discards unsent output and unread input.
    void purge();
    // Raises or drops modem lines (TIOCM_DTR, TIOCM_RTS); devices without them (pseudo-terminals)
    // refuse, which is ignored.
    void setModemLines(int lines, bool on);

    // Gives the terminal back: the settings found at open restored, exclusive use cleared, the
    // descriptor closed (which drops the flock). Harmless when nothing is open.
    void close();

    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    // Set once the device has reported a hang-up or an error; cleared by the next open.
    bool vanished() const { return vanished_.load(); }

private:
    LinkFault fault(FaultKind kind, std::string detail, int errorNumber) const;
    LinkResult openDevice(const std::string& path, bool receiveOnly);

    std::string path_;
    int fd_ = -1;
    TerminalClaim claim_;
    std::atomic<bool> vanished_{false};
    bool receiveOnly_ = false;
};

} // namespace norvex::link
