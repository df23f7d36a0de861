// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The request kinds as bytes on the bus: the frame of every kind, what the link assembles in
// answer, the state a kind takes once its frame is handed over, how long an awaited answer may
// take, and the command history's codes and texts. Pure tables and functions, no I/O.

#include "link/LinkTypes.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace norvex::control {

struct RequestFrame {
    std::array<std::uint8_t, link::TX_SLOT_SIZE> bytes{};
    std::size_t length = 0;
};

// Low 8 bits of the sum of the bytes.
std::uint8_t frameChecksum(const std::uint8_t* bytes, std::size_t length);

// The frame of a request kind, checksum included. BILL TYPE carries billMask, most significant
// byte first (bill enables of types 15..8 and 7..0, then escrow enables of types 15..8, 7..0).
RequestFrame requestFrame(link::RequestKind kind, std::uint32_t billMask = 0);

// Function codes of the manufacturer's diagnostics frame (37 FF "VNT" 00 function ck).
inline constexpr std::uint8_t DIAG_SENSORS = 0xE9;
inline constexpr std::uint8_t DIAG_OPTICS = 0xE8;
inline constexpr std::uint8_t DIAG_VIDEO = 0xE7;
inline constexpr std::uint8_t DIAG_STATISTICS = 0xDD;
inline constexpr std::uint8_t DIAG_ERASE_STATISTICS = 0x32;

struct RequestInfo {
    // Idle: sent once; Awaiting: repeated until answered; none: POLL's sender leaves the state of
    // REQ_POLL as it is.
    std::optional<link::RequestState> stateAfterSend;
    link::ResponseMode response; // what the link assembles after the frame
    std::uint8_t completion;     // the completion code that ends the answer
    std::uint8_t historyCode;    // command history code, 0 for POLL (no entry)
    std::size_t answerLength;    // bytes of a fixed-length answer, checksum included; 0 = short
    unsigned timeoutMs;          // awaited kinds: accumulated poll time before the frame is repeated
};

const RequestInfo& requestInfo(link::RequestKind kind);

inline bool isAwaited(link::RequestKind kind) {
    return requestInfo(kind).stateAfterSend == link::RequestState::Awaiting;
}

// The awaited kinds in the order in which the POLL step checks their time-outs.
inline constexpr std::array<link::RequestKind, 6> AWAITED_ORDER{link::REQ_SETUP,   link::REQ_DEVICE_ID,
                                                                link::REQ_SENSORS, link::REQ_OPTICS,
                                                                link::REQ_VIDEO,   link::REQ_STATISTICS};

// Time a number of bytes takes on the bus: 9600 baud, 11 bits per byte (start, 8 data, mode,
// stop). Microseconds, rounded up.
constexpr unsigned busTimeUs(std::size_t bytes) {
    return static_cast<unsigned>((bytes * 11u * 1000000u + 9599u) / 9600u);
}

// Name of a command history code 0x30..0x38 ("RESET validator" .. "DIAGNOSTICS req."); an
// empty text for any other code.
std::string_view commandName(std::uint8_t code);

} // namespace norvex::control
