// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace norvex::download {

// Loader command codes. Every command goes out as "#C", the code and its bitwise complement.
enum class LoaderCommand : uint8_t {
    Handshake = 0x08,  // first frame at 9600 baud; answered "#A"
    SetSpeed = 0x83,   // followed by one speed byte; not answered
    SpeedCheck = 0x75, // first frame at the new speed; its two-byte answer is not examined
    Header = 0x20,     // block exchange of the 128-byte image header
    Record = 0x0C,     // block exchange of one record: 3 address bytes, then 128 data bytes
    CheckValue = 0x84, // asks for the 16-bit check value of what was received, high byte first
};

inline constexpr uint8_t SPEED_BYTE_38400 = 0x02; // the byte after SetSpeed
inline constexpr int LOADER_BAUD = 9600;
inline constexpr int TRANSFER_BAUD = 38400;

inline constexpr size_t BLOCK_SIZE = 128;
inline constexpr size_t ADDRESS_SIZE = 3;
inline constexpr int HEADER_ATTEMPTS = 100;
inline constexpr int RECORD_ATTEMPTS = 101; // a record gets one attempt more than the header

inline constexpr std::array<uint8_t, 2> LOADER_ACK{'#', 'A'};

constexpr std::array<uint8_t, 4> commandFrame(LoaderCommand command) {
    const auto code = static_cast<uint8_t>(command);
    return {'#', 'C', code, static_cast<uint8_t>(~code)};
}

// True only for exactly the two bytes "#A".
constexpr bool isAck(const uint8_t* bytes, size_t count) {
    return count == LOADER_ACK.size() && bytes[0] == LOADER_ACK[0] && bytes[1] == LOADER_ACK[1];
}

// Waits and read time-outs of the loader dialogue. The waits are the loader's; the time-outs are
// ours: a read that times out counts as a missing acknowledge.
struct LoaderTiming {
    int speedChangeDelayMs = 200; // after SetSpeed, before the line is reopened at 38400
    int speedCheckDelayMs = 10;   // after SpeedCheck, before its answer is read
    int checkValueDelayMs = 2000; // after CheckValue, while the loader computes it
    // A two-byte answer takes 0.5 ms at 38400 and 2 ms at 9600; one second leaves the loader ample
    // time and keeps a silent loader from stalling the procedure.
    int answerTimeoutMs = 1000;
    // The 128 bytes returned after a block take 33 ms on the wire; one overall time-out for all of them.
    int blockTimeoutMs = 1000;
    // The acknowledge that ends a block exchange may follow a flash erase or write in the loader.
    int blockAckTimeoutMs = 3000;
    // The check value follows the fixed wait above; this is the time-out for its two bytes after it.
    int checkValueTimeoutMs = 3000;
};

} // namespace norvex::download
