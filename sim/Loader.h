// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FailurePlan.h"
#include "Scenario.h"
#include "WireFormat.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace norvex::sim {

// The validator's firmware loader, free of I/O. Frames from the tool are "#C", a code and the
// code's complement; the acknowledge is "#A". A block exchange (header 0x20, record 0x0C) runs:
// frame [+ 3 address bytes] -> "#A"; 128 bytes -> the same 128 bytes back; "#A" -> "#A".
class Loader {
public:
    enum class CheckMode {
        Crc,    // CRC-16/CCITT-FALSE over the data bytes of the records received, in order
        Sum,    // 16-bit sum of those bytes
        Header, // header bytes 126 (high) and 127 (low), as the image file expects
        Fixed,  // a value given by the operator
    };
    struct Config {
        CheckMode check = CheckMode::Crc;
        std::uint16_t fixedCheck = 0;
        std::int64_t stallUs = 2'000'000; // silence inside an exchange that abandons it
    };
    struct Record {
        std::array<std::uint8_t, 3> address{};
        Bytes data; // 128 bytes
    };

    static constexpr std::size_t BLOCK_SIZE = 128;

    explicit Loader(Config config);
    Loader() : Loader(Config{}) {}

    std::vector<Transmission> onBytes(std::span<const std::uint8_t> bytes, std::int64_t nowUs);
    void tick(std::int64_t nowUs);
    std::optional<std::int64_t> deadline() const;

    std::string apply(const Command& command);

    int baud() const { return baud_; }
    bool hasHeader() const { return haveHeader_; }
    const Bytes& header() const { return header_; }
    // Counts accepted headers: a new header starts a new image.
    std::size_t headersAccepted() const { return headersAccepted_; }
    const std::vector<Record>& records() const { return records_; }
    std::uint16_t checkValue() const;
    // The header, then per record its 3 address bytes and 128 data bytes.
    Bytes dump() const;

    FailurePlan& failures() { return failures_; }
    std::vector<std::string> takeLog();

private:
    enum class State { Frame, SpeedByte, Address, Block, FinalAck };

    void onByte(std::uint8_t b, std::int64_t nowUs, std::vector<Transmission>& out);
    void onFrame(std::uint8_t code, std::vector<Transmission>& out);
    void answer(const std::string& kind, Bytes bytes, std::vector<Transmission>& out);
    void flushGarbage();
    void abandon(const std::string& why);
    void log(const std::string& members) { log_.push_back(members); }

    Config config_;
    State state_ = State::Frame;
    int baud_ = 9600;
    bool blockIsHeader_ = false;
    Bytes frame_;   // bytes of a loader frame being assembled
    Bytes garbage_; // bytes that started no frame
    Bytes block_;   // address or block bytes being received
    std::array<std::uint8_t, 3> address_{};
    std::int64_t lastByteUs_ = 0;

    Bytes header_;
    bool haveHeader_ = false;
    std::size_t headersAccepted_ = 0;
    std::vector<Record> records_;
    FailurePlan failures_;
    std::vector<std::string> log_;
};

} // namespace norvex::sim
