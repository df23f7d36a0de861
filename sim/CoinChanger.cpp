// SPDX-License-Identifier: GPL-3.0-or-later
#include "CoinChanger.h"

namespace norvex::sim {

namespace {

constexpr std::uint8_t CHANGER_WAS_RESET = 0x0B;
constexpr std::size_t MAX_PER_POLL = 16;
constexpr std::size_t MAX_QUEUE = 256;

Bytes withChecksum(Bytes b) {
    appendChecksum(b);
    return b;
}

Bytes text(const char* s, std::size_t n) {
    Bytes b;
    for (std::size_t i = 0; i < n; ++i)
        b.push_back(static_cast<std::uint8_t>(s[i]));
    return b;
}

} // namespace

CoinChanger::CoinChanger() {
    reset();
}

void CoinChanger::reset() {
    queue_.clear();
    inFlight_ = 0;
    queue_.push_back(CHANGER_WAS_RESET);
    tubes_ = {12, 10, 8, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

std::vector<std::string> CoinChanger::takeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}

std::string CoinChanger::depositCoin(int type, bool toTubes) {
    if (type < 0 || type > 15) return "coin type must be 0 to 15";
    if (queue_.size() + 2 > MAX_QUEUE) return "the changer's queue is full";
    const bool tube = toTubes && type < 4; // types 0-3 have tubes
    if (tube && tubes_[static_cast<std::size_t>(type)] < 255) ++tubes_[static_cast<std::size_t>(type)];
    queue_.push_back(static_cast<std::uint8_t>((tube ? 0x50 : 0x40) | type));
    queue_.push_back(tubes_[static_cast<std::size_t>(type)]);
    log("\"event\":\"coin\",\"type\":" + std::to_string(type) + ",\"to\":\"" + (tube ? "tubes" : "cashbox") +
        "\"");
    return "ok";
}

Transmission CoinChanger::pollAnswer() {
    Transmission tx;
    if (inFlight_ > 0) {
        log("\"event\":\"repeat\",\"device\":\"changer\"");
    } else {
        // Whole coins only: a coin's two bytes travel together.
        std::size_t n = 0;
        while (n < queue_.size() && n < MAX_PER_POLL) {
            const std::size_t size = (queue_[n] & 0xC0) != 0 ? 2 : 1;
            if (n + size > MAX_PER_POLL || n + size > queue_.size()) break;
            n += size;
        }
        inFlight_ = n;
    }
    if (inFlight_ == 0) {
        tx.bytes = {0x00};
        return tx;
    }
    tx.bytes.assign(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(inFlight_));
    appendChecksum(tx.bytes);
    tx.expectsAck = true;
    return tx;
}

Transmission CoinChanger::onCommand(const Bytes& f) {
    Transmission tx;
    tx.kind = "changer";
    const Bytes ack{0x00};
    // A new command while an answer waits for its acknowledge: that answer goes again at the
    // next POLL.
    switch (f.empty() ? 0xFF : f[0]) {
    case 0x08: // RESET
        reset();
        tx.bytes = ack;
        tx.kind = "reset";
        break;
    case 0x09: { // SETUP: level 3, country 1978, scaling 5, 2 decimals, types 0-3 to tubes
        Bytes d{0x03, 0x19, 0x78, 0x05, 0x02, 0x00, 0x0F, 1, 2, 4, 10, 20, 40};
        d.resize(7 + 16, 0);
        tx.bytes = withChecksum(d);
        tx.expectsAck = true;
        tx.kind = "setup";
        break;
    }
    case 0x0A: { // TUBE STATUS
        Bytes d{0x00, 0x00};
        d.insert(d.end(), tubes_.begin(), tubes_.end());
        tx.bytes = withChecksum(d);
        tx.expectsAck = true;
        tx.kind = "tubes";
        break;
    }
    case 0x0B:
        tx = pollAnswer();
        tx.kind = "poll";
        break;
    case 0x0C: // COIN TYPE
    case 0x0D: // DISPENSE
        tx.bytes = ack;
        tx.kind = f[0] == 0x0C ? "cointype" : "dispense";
        break;
    case 0x0F:
        if (f.size() >= 2 && f[1] == 0x00) {
            Bytes d = text("CGXCH0000012345CHANGER-3000", 27);
            d.insert(d.end(), {0x01, 0x02, 0x00, 0x00, 0x00, 0x00});
            tx.bytes = withChecksum(d);
            tx.expectsAck = true;
            tx.kind = "ident";
        }
        break;
    default:
        break;
    }
    if (!tx.bytes.empty()) {
        tx.modeBits.assign(tx.bytes.size(), 0);
        tx.modeBits.back() = 1;
    }
    return tx;
}

void CoinChanger::onAck(bool inTime) {
    if (!inTime) return;
    for (std::size_t i = 0; i < inFlight_ && !queue_.empty(); ++i)
        queue_.pop_front();
    inFlight_ = 0;
}

} // namespace norvex::sim
