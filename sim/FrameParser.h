// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WireFormat.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

namespace norvex::sim {

// What the controller may send. Frames are told apart by their command byte and known length
// alone: a pseudo-terminal carries no mode bit.
enum class FrameKind {
    Ack,            // 00, the controller's acknowledge of a data answer
    Reset,          // 30 30
    Setup,          // 31 31
    Security,       // 32 y1 y2 ck
    Poll,           // 33 33
    BillType,       // 34 e1 e0 s1 s0 ck
    Escrow,         // 35 y ck
    Stacker,        // 36 36
    Identification, // 37 00 37
    Diagnostics,    // 37 FF 56 4E 54 00 fn ck
};

const char* frameKindName(FrameKind kind);

struct ParsedItem {
    enum class Type {
        Frame,       // a complete frame with a good checksum (or the one-byte ACK)
        BadChecksum, // a frame of known length whose last byte is not its checksum
        Garbage,     // bytes that start no known frame
        Incomplete,  // the start of a frame, cut off by silence
    };
    Type type = Type::Frame;
    FrameKind kind = FrameKind::Ack;
    Bytes bytes;
};

// Cuts the controller's byte stream into frames. A partial frame followed by more than `gapUs` of
// silence is dropped. After a checksum failure the scan resumes one byte after the failed start,
// so a stray byte in front of a good frame costs only the stray byte; a 00 met during such a
// rescan is rubble, not an acknowledge.
class FrameParser {
public:
    explicit FrameParser(std::int64_t gapUs = 20000) : gapUs_(gapUs) {}

    std::vector<ParsedItem> feed(std::span<const std::uint8_t> bytes, std::int64_t nowUs);

    // Drops a partial frame whose silence has lasted longer than the gap.
    std::vector<ParsedItem> expire(std::int64_t nowUs);

    // When expire() next has something to do.
    std::optional<std::int64_t> deadline() const;

    void clear();

    // Length of the frame that starts the buffer: > 0 known, 0 more bytes needed, -1 no frame
    // starts with this byte.
    static int frameLength(std::span<const std::uint8_t> start);

private:
    void scan(std::vector<ParsedItem>& out);
    void flushGarbage(std::vector<ParsedItem>& out);
    void dropFront(std::size_t n);

    std::int64_t gapUs_;
    std::deque<std::uint8_t> pending_;
    std::size_t suspect_ = 0; // leading bytes of pending_ that belong to a failed frame
    Bytes garbage_;
    std::int64_t lastByteUs_ = 0;
};

} // namespace norvex::sim
