// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The hardware seam: a serial port as the link sees it. TermiosPort is the real one; tests use
// a scripted fake.

#include "LineSettings.h"
#include "LinkFault.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvex::link {

class SerialPort {
public:
    virtual ~SerialPort() = default;
    // Opens the device exclusively and applies the line settings. Fails with the fault when the
    // device is absent, held by another program or refuses the settings.
    virtual LinkResult open(const std::string& path, const LineSettings& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Bytes already received, at most max; never waits.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t max) = 0;
    // Writes all bytes and returns once they have left the port. Fails when the port is not open,
    // has gone or takes no byte for too long.
    virtual LinkResult write(const std::uint8_t* buffer, std::size_t length) = 0;
    // Discards unsent output and unread input.
    virtual void purge() = 0;
    virtual void setDtr(bool on) = 0;
    // Descriptor to wait on for received bytes (poll POLLIN); -1 when the port has none.
    virtual int waitHandle() const = 0;
    // True when the driver put mark parity on the line; false when it fell back to two stop
    // bits, which puts the same waveform on the wire for every transmitted byte.
    virtual bool markParityHonoured() const = 0;
    // Set once the device has reported an error or hang-up: the port is gone.
    virtual bool failed() const = 0;
    // True when read() delivers bytes in the marked form of input checking with parity marking:
    // a byte received with a parity or framing error as FF 00 x, a byte FF as FF FF. Whether the
    // driver actually flags bytes shows only in what arrives.
    virtual bool deliversMarks() const { return false; }
};

} // namespace norvex::link
