#pragma once
// SerialPort on a POSIX terminal device.

#include "SerialPort.h"
#include "TerminalClaim.h"

#include <atomic>
#include <string>

namespace norvex::link {

class TermiosPort : public SerialPort {
public:
    TermiosPort() = default;
    ~TermiosPort() override { close(); }

    LinkResult open(const std::string& path, const LineSettings& settings) override;
    void close() override;
    bool isOpen() const override { return fd_ >= 0; }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override;
    LinkResult write(const std::uint8_t* buffer, std::size_t length) override;
    void purge() override;
    void setDtr(bool on) override;
    int waitHandle() const override { return fd_; }
    bool markParityHonoured() const override { return markParity_; }
    bool failed() const override { return failed_.load(); }
    bool deliversMarks() const override { return marks_; }

private:
    std::string path_;
    int fd_ = -1;
    TerminalClaim claim_;
    bool markParity_ = false;
    bool marks_ = false;
    std::atomic<bool> failed_{false};
};

} // namespace norvex::link
