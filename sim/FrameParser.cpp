// SPDX-License-Identifier: GPL-3.0-or-later
#include "FrameParser.h"

#include <algorithm>

namespace norvex::sim {

const char* frameKindName(FrameKind kind) {
    switch (kind) {
    case FrameKind::Ack:
        return "ack";
    case FrameKind::Reset:
        return "reset";
    case FrameKind::Setup:
        return "setup";
    case FrameKind::Security:
        return "security";
    case FrameKind::Poll:
        return "poll";
    case FrameKind::BillType:
        return "billtype";
    case FrameKind::Escrow:
        return "escrow";
    case FrameKind::Stacker:
        return "stacker";
    case FrameKind::Identification:
        return "ident";
    case FrameKind::Diagnostics:
        return "diagnostics";
    }
    return "?";
}

int FrameParser::frameLength(std::span<const std::uint8_t> start) {
    if (start.empty()) return 0;
    switch (start[0]) {
    case 0x30:
    case 0x31:
    case 0x33:
    case 0x36:
        return 2;
    case 0x32:
        return 4;
    case 0x34:
        return 6;
    case 0x35:
        return 3;
    case 0x37:
        if (start.size() < 2) return 0;
        if (start[1] == 0x00) return 3;
        if (start[1] == 0xFF) return 8;
        return -1;
    default:
        return -1;
    }
}

static FrameKind kindOf(const Bytes& frame) {
    switch (frame[0]) {
    case 0x30:
        return FrameKind::Reset;
    case 0x31:
        return FrameKind::Setup;
    case 0x32:
        return FrameKind::Security;
    case 0x33:
        return FrameKind::Poll;
    case 0x34:
        return FrameKind::BillType;
    case 0x35:
        return FrameKind::Escrow;
    case 0x36:
        return FrameKind::Stacker;
    default:
        return frame[1] == 0x00 ? FrameKind::Identification : FrameKind::Diagnostics;
    }
}

std::vector<ParsedItem> FrameParser::feed(std::span<const std::uint8_t> bytes, std::int64_t nowUs) {
    std::vector<ParsedItem> out;
    if (bytes.empty()) return out;
    if (!pending_.empty() && nowUs - lastByteUs_ > gapUs_) {
        out.push_back(
            {ParsedItem::Type::Incomplete, FrameKind::Ack, Bytes(pending_.begin(), pending_.end())});
        pending_.clear();
        suspect_ = 0;
    }
    lastByteUs_ = nowUs;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    scan(out);
    flushGarbage(out);
    return out;
}

std::vector<ParsedItem> FrameParser::expire(std::int64_t nowUs) {
    std::vector<ParsedItem> out;
    if (!pending_.empty() && nowUs - lastByteUs_ > gapUs_) {
        out.push_back(
            {ParsedItem::Type::Incomplete, FrameKind::Ack, Bytes(pending_.begin(), pending_.end())});
        pending_.clear();
        suspect_ = 0;
    }
    return out;
}

std::optional<std::int64_t> FrameParser::deadline() const {
    if (pending_.empty()) return std::nullopt;
    return lastByteUs_ + gapUs_ + 1;
}

void FrameParser::clear() {
    pending_.clear();
    garbage_.clear();
    suspect_ = 0;
}

void FrameParser::dropFront(std::size_t n) {
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    suspect_ = suspect_ > n ? suspect_ - n : 0;
}

void FrameParser::flushGarbage(std::vector<ParsedItem>& out) {
    if (garbage_.empty()) return;
    out.push_back({ParsedItem::Type::Garbage, FrameKind::Ack, garbage_});
    garbage_.clear();
}

void FrameParser::scan(std::vector<ParsedItem>& out) {
    while (!pending_.empty()) {
        const std::uint8_t first = pending_.front();
        if (first == 0x00) {
            if (suspect_ > 0) {
                garbage_.push_back(first);
            } else {
                flushGarbage(out);
                out.push_back({ParsedItem::Type::Frame, FrameKind::Ack, Bytes{0x00}});
            }
            dropFront(1);
            continue;
        }
        std::uint8_t head[2] = {first, pending_.size() > 1 ? pending_[1] : std::uint8_t{0}};
        const int len = frameLength(std::span<const std::uint8_t>(head, pending_.size() > 1 ? 2 : 1));
        if (len < 0) {
            garbage_.push_back(first);
            dropFront(1);
            continue;
        }
        if (len == 0 || pending_.size() < static_cast<std::size_t>(len)) return;
        Bytes frame(pending_.begin(), pending_.begin() + len);
        flushGarbage(out);
        if (mdbChecksum(std::span<const std::uint8_t>(frame).first(frame.size() - 1)) == frame.back()) {
            out.push_back({ParsedItem::Type::Frame, kindOf(frame), std::move(frame)});
            dropFront(static_cast<std::size_t>(len));
        } else {
            out.push_back({ParsedItem::Type::BadChecksum, kindOf(frame), std::move(frame)});
            dropFront(1);
            suspect_ = std::max(suspect_, static_cast<std::size_t>(len - 1));
        }
    }
}

} // namespace norvex::sim
