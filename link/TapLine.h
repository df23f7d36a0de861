// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One receive-only line of a tap on a vending machine's bus: a serial input wired to the
// controller's or the peripherals' transmit line. Nothing may disturb a machine in service: the
// device is opened read-only, so no byte can be written into it; no modem line is ever set; the
// line settings have no echo, no flow control (XOFF is a byte sent, hardware flow control moves
// RTS) and no hang-up on close (which drops DTR and RTS); closing gives the settings found back,
// but for the hang-up. The kernel raises DTR and RTS on the first open of an adapter whose saved
// settings carry a speed; no open avoids that, and with only RX wired they reach nothing. After
// that the lines stay as they are, since a close without hang-up leaves them up.
//
// 9600 baud with the mode bit read where the adapter reports it: mark parity (two stop bits where
// the driver has none) with parity marking, so that a driver that flags errors per byte delivers
// a byte with a mode bit of 0 as FF 00 x.

#include "LinkFault.h"
#include "MarkedInput.h"
#include "TermiosDevice.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvex::link {

class TapLine {
public:
    TapLine() = default;
    ~TapLine() { close(); }
    TapLine(const TapLine&) = delete;
    TapLine& operator=(const TapLine&) = delete;

    // Opens the device for listening; input already waiting is discarded.
    LinkResult open(const std::string& path);
    void close();
    bool isOpen() const { return device_.isOpen(); }
    int waitHandle() const { return device_.fd(); }
    const std::string& path() const { return device_.path(); }

    // The bytes received since the last call, at most `max`, each with its mark (its mode bit was
    // 0); `out` has room for `max`. Never waits.
    std::size_t read(LineByte* out, std::size_t max);
    // The device reported a hang-up or an error: the adapter has gone.
    bool vanished() const { return device_.vanished(); }
    // The driver kept parity marking: marks may come (whether they do shows in what arrives).
    bool deliversMarks() const { return marks_; }
    bool markParity() const { return markParity_; }

private:
    TermiosDevice device_;
    MarkedInput decoder_;
    bool marks_ = false;
    bool markParity_ = false;
    std::array<std::uint8_t, 256> raw_{};
};

} // namespace norvex::link
