// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A serial line as its users ask for it: speed, parity, stop bits and how received bytes with
// errors and an empty queue are read. Only TermiosDevice turns this into termios.

#include <cstdint>

namespace norvex::link {

enum class Parity { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };

struct LineSettings {
    std::uint32_t baud = 9600;
    Parity parity = Parity::Mark;
    bool twoStopBits = false;
    // A byte received with a parity or framing error comes marked (FF 00 byte, and an error-free
    // FF doubled), and breaks are read rather than ignored: how the link sees the MDB mode bit.
    bool markErrors = false;
    // A read of an empty queue reports EAGAIN (at least one byte is asked for); otherwise it reads
    // nothing at once. Either way reads never wait on a descriptor opened without blocking.
    bool askForOneByte = false;
    // The line is only listened to: closing it must not drop the modem lines (no hang-up), and
    // nothing of them is changed. Otherwise the hang-up setting stays as it was found.
    bool listenOnly = false;

    bool operator==(const LineSettings&) const = default;
};

} // namespace norvex::link
