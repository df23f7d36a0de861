// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SerialPort on a POSIX terminal device: the link's line (mark parity where the driver gives
// it, two stop bits where it does not, parity marking of received bytes) over TermiosDevice.

#include "SerialPort.h"
#include "TermiosDevice.h"

#include <chrono>

namespace norvex::link {

class TermiosPort : public SerialPort {
public:
    TermiosPort() = default;
    ~TermiosPort() override { close(); }

    LinkResult open(const std::string& path, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return device_.isOpen(); }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    LinkResult write(const std::uint8_t* buffer, std::size_t length) override;
    void purge() override;
    void setDtr(bool on) override;
    int waitHandle() const override { return device_.fd(); }
    bool markParityHonoured() const override { return markParity_; }
    bool failed() const override { return device_.vanished(); }
    bool deliversMarks() const override { return marks_; }

    // A write gives up when the device takes no byte for this long. A frame is at most 16 bytes
    // (17 ms at 9600 baud); the worker must not hang on a stuck adapter much longer than that,
    // since closing the port waits for it.
    static constexpr std::chrono::milliseconds WRITE_STALL{1000};

private:
    TermiosDevice device_;
    bool markParity_ = false;
    bool marks_ = false;
};

} // namespace norvex::link
