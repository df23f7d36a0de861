// SPDX-License-Identifier: GPL-3.0-or-later
#include "FailurePlan.h"

#include <algorithm>

namespace norvex::sim {

namespace {
struct ModeName {
    FailMode mode;
    const char* name;
};
const ModeName MODE_NAMES[] = {
    {FailMode::Silent, "silent"},     {FailMode::BadSum, "badsum"},   {FailMode::Nak, "nak"},
    {FailMode::Split, "split"},       {FailMode::Garbage, "garbage"}, {FailMode::Slow, "slow"},
    {FailMode::Vanish, "vanish"},     {FailMode::Noise, "noise"},     {FailMode::Flip, "flip"},
    {FailMode::Unmarked, "unmarked"}, {FailMode::Late, "late"},
};
} // namespace

const char* failModeName(FailMode mode) {
    for (const auto& m : MODE_NAMES)
        if (m.mode == mode) return m.name;
    return "none";
}

std::optional<FailMode> failModeFromName(const std::string& name) {
    for (const auto& m : MODE_NAMES)
        if (name == m.name) return m.mode;
    if (name == "refuse") return FailMode::Nak;
    if (name == "wrong") return FailMode::BadSum;
    return std::nullopt;
}

void FailurePlan::add(const std::string& target, const Failure& failure, int count) {
    if (count == 0) return;
    rules_.push_back({target, failure, count});
}

std::optional<Failure> FailurePlan::take(const std::string& target) {
    // The newest rule wins, so a later command overrides an earlier one.
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
        if (it->target != target && it->target != "any") continue;
        Failure f = it->failure;
        if (it->count > 0 && --it->count == 0) rules_.erase(std::next(it).base());
        return f;
    }
    return std::nullopt;
}

Bytes FailurePlan::noise(std::size_t n, Bytes& modeBits) {
    Bytes out;
    modeBits.clear();
    while (out.size() < n) {
        random_ ^= random_ << 13;
        random_ ^= random_ >> 17;
        random_ ^= random_ << 5;
        const auto b = static_cast<std::uint8_t>(random_ >> 8);
        if (out.empty() && (b == 0x00 || b == 0xFF)) continue;
        out.push_back(b);
        modeBits.push_back(static_cast<std::uint8_t>(random_ >> 31));
    }
    return out;
}

void FailurePlan::apply(Transmission& tx, const Failure& failure, const Bytes& nak) {
    tx.failure = failure;
    const bool modeBits = !tx.modeBits.empty();
    switch (failure.mode) {
    case FailMode::Silent:
        tx.bytes.clear();
        tx.modeBits.clear();
        tx.expectsAck = false;
        break;
    case FailMode::BadSum:
        if (!tx.bytes.empty()) tx.bytes.back() = static_cast<std::uint8_t>(tx.bytes.back() + 1);
        break;
    case FailMode::Flip: {
        // One bit of a data byte hit by noise; the checksum stays what the validator computed.
        if (tx.bytes.size() < 2) break;
        const std::size_t data = tx.bytes.size() - 1;
        const std::size_t at = failure.byte >= 0 ? static_cast<std::size_t>(failure.byte) % data : data / 2;
        tx.bytes[at] ^= 0x80;
        break;
    }
    case FailMode::Unmarked: {
        // A driver that stops reporting the mode bit: from here on every byte arrives as if it
        // were the last of the answer.
        const std::size_t from = failure.byte >= 0 ? static_cast<std::size_t>(failure.byte) : 1;
        for (std::size_t i = from; i < tx.modeBits.size(); ++i)
            tx.modeBits[i] = 1;
        break;
    }
    case FailMode::Nak:
        tx.bytes = nak;
        if (modeBits) tx.modeBits = Bytes(nak.size(), 1);
        tx.expectsAck = false;
        break;
    case FailMode::Garbage: {
        // Bytes that start no controller-side frame and are neither ACK nor NAK.
        static const std::uint8_t pattern[] = {0xE5, 0x5E, 0x7A, 0xC3, 0x19, 0xB6, 0x4D, 0x92};
        Bytes junk;
        for (int i = 0; i < failure.garbageBytes; ++i)
            junk.push_back(pattern[static_cast<std::size_t>(i) % sizeof pattern]);
        const bool after = failure.at == Placement::After;
        tx.bytes.insert(after ? tx.bytes.end() : tx.bytes.begin(), junk.begin(), junk.end());
        if (modeBits) tx.modeBits.insert(after ? tx.modeBits.end() : tx.modeBits.begin(), junk.size(), 0);
        break;
    }
    case FailMode::Noise: {
        if (failure.seed != 0) random_ = failure.seed;
        Bytes bits;
        const Bytes junk = noise(static_cast<std::size_t>(std::max(0, failure.garbageBytes)), bits);
        if (failure.at == Placement::Instead) {
            // Nothing was answered: the queued data waits for the next POLL, and an ACK of the
            // noise acknowledges nothing.
            tx.bytes = junk;
            tx.modeBits = modeBits ? bits : Bytes{};
            tx.expectsAck = false;
        } else {
            const bool after = failure.at == Placement::After;
            if (after) tx.gapBefore = tx.bytes.size();
            tx.bytes.insert(after ? tx.bytes.end() : tx.bytes.begin(), junk.begin(), junk.end());
            if (modeBits)
                tx.modeBits.insert(after ? tx.modeBits.end() : tx.modeBits.begin(), bits.begin(), bits.end());
        }
        break;
    }
    default:
        break;
    }
}

} // namespace norvex::sim
