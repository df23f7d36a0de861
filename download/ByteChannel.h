// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

#include <cstddef>
#include <cstdint>

namespace norvex::download {

// The serial line as the loader dialogue sees it: plain 8-bit characters, no parity.
class ByteChannel {
public:
    virtual ~ByteChannel() = default;

    // Writes all bytes and waits until they have left; false when the line is not open or the write failed.
    [[nodiscard]] virtual bool write(const uint8_t* data, size_t length) = 0;

    // Reads up to n bytes, waiting at most timeoutMs in all; returns the number read (0..n).
    // A timeout of 0 takes only what has already arrived.
    virtual size_t read(uint8_t* buf, size_t n, int timeoutMs) = 0;

    // Closes the line and opens it again, no parity, at the given speed. After a failed open every
    // read and write fails at once until the next successful reopen.
    [[nodiscard]] virtual bool reopen(int baud) = 0;

    // Why the last reopen failed, in words for the technician; empty when it did not fail or
    // nothing more is known.
    virtual std::string openFailureReason() const { return {}; }

    // Closes the line; harmless when it is already closed.
    virtual void close() = 0;

    // Waits at least ms milliseconds.
    virtual void delayMs(int ms) = 0;
};

} // namespace norvex::download
