// SPDX-License-Identifier: GPL-3.0-or-later
#include "Validator.h"

#include <cstdio>

namespace norvex::sim {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

static std::string msText(std::int64_t us) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", static_cast<double>(us) / 1000.0);
    return buf;
}

Validator::Validator(Config config) : config_(config) {
    // Power-up counts as a reset: the first POLL hears about it.
    queue_.push_back(0x06);
}

std::vector<std::string> Validator::takeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}

void Validator::push(std::uint8_t status) {
    if (queue_.size() >= MAX_QUEUE) {
        log("\"event\":\"queue_full\",\"dropped\":\"" + toHex(std::span<const std::uint8_t>(&status, 1)) +
            "\"");
        return;
    }
    queue_.push_back(status);
}

void Validator::closeAckWait(bool missing) {
    if (ack_.active && missing && !ack_.expired) log("\"ack\":\"missing\",\"kind\":\"" + ack_.kind + "\"");
    ack_ = AckWait{};
}

std::optional<Transmission> Validator::onItem(const ParsedItem& item, std::int64_t nowUs) {
    using T = ParsedItem::Type;
    switch (item.type) {
    case T::Garbage:
        log("\"dir\":\"rx\",\"bad\":\"garbage\",\"bytes\":\"" + toHex(item.bytes) + "\"");
        return std::nullopt;
    case T::Incomplete:
        log("\"dir\":\"rx\",\"bad\":\"incomplete\",\"bytes\":\"" + toHex(item.bytes) + "\"");
        return std::nullopt;
    case T::BadChecksum:
        log("\"dir\":\"rx\",\"bad\":\"checksum\",\"bytes\":\"" + toHex(item.bytes) + "\",\"kind\":\"" +
            frameKindName(item.kind) + "\"");
        return std::nullopt;
    case T::Frame:
        break;
    }

    if (item.kind == FrameKind::Ack) {
        log("\"dir\":\"rx\",\"frame\":\"00\",\"kind\":\"ack\"");
        if (!ack_.active || !ack_.sent) {
            log("\"event\":\"unexpected_ack\"");
            return std::nullopt;
        }
        const std::int64_t delay = nowUs - ack_.sentUs;
        const bool inTime = delay <= config_.ackWindowUs;
        log("\"ack_ms\":" + msText(delay) + ",\"kind\":\"" + ack_.kind + "\"" +
            (inTime ? "" : ",\"late\":true"));
        if (inTime && ack_.kind == "poll") {
            for (std::size_t i = 0; i < ack_.pollBytes && !queue_.empty(); ++i)
                queue_.pop_front();
            inFlight_ = 0;
        }
        ack_ = AckWait{};
        return std::nullopt;
    }

    closeAckWait(true);
    std::string kind = frameKindName(item.kind);
    log("\"dir\":\"rx\",\"frame\":\"" + toHex(item.bytes) + "\",\"kind\":\"" + kind + "\"");
    Transmission tx = answerFor(item, kind);
    tx.kind = kind;
    if (tx.bytes.empty()) return std::nullopt; // a frame this validator does not answer (logged by answerFor)

    // Only the last byte of an answer carries a mode bit of 1.
    tx.modeBits.assign(tx.bytes.size(), 0);
    tx.modeBits.back() = 1;
    if (auto f = failures_.take(kind)) {
        log("\"event\":\"fail\",\"mode\":\"" + std::string(failModeName(f->mode)) + "\",\"kind\":\"" + kind +
            "\"");
        failures_.apply(tx, *f, Bytes{0xFF});
    }
    lastExpectsAck_ = tx.expectsAck;
    lastKind_ = kind;
    return tx;
}

void Validator::onSent(std::int64_t nowUs) {
    if (!lastExpectsAck_) return;
    ack_ = AckWait{};
    ack_.active = true;
    ack_.sent = true;
    ack_.kind = lastKind_;
    ack_.pollBytes = lastKind_ == "poll" ? inFlight_ : 0;
    ack_.sentUs = nowUs;
    lastExpectsAck_ = false;
}

void Validator::onResent(std::int64_t nowUs) {
    if (!ack_.active || !ack_.sent) return;
    log("\"event\":\"retransmitted\",\"kind\":\"" + ack_.kind + "\"");
    ack_.sentUs = nowUs;
    ack_.expired = false;
}

void Validator::tick(std::int64_t nowUs) {
    if (ack_.active && ack_.sent && !ack_.expired && nowUs - ack_.sentUs > config_.ackWindowUs) {
        ack_.expired = true;
        log("\"ack\":\"timeout\",\"kind\":\"" + ack_.kind + "\"" +
            (ack_.kind == "poll" ? ",\"repeat\":true" : ""));
    }
}

std::optional<std::int64_t> Validator::deadline() const {
    if (ack_.active && ack_.sent && !ack_.expired) return ack_.sentUs + config_.ackWindowUs + 1;
    return std::nullopt;
}

std::size_t Validator::batchSize() const {
    const std::size_t most = std::min(MAX_PER_POLL, queue_.size());
    if (most == 0) return 0;
    if (config_.batch == PollBatch::One) return 1;
    if (config_.batch == PollBatch::Max) return most;
    for (std::size_t n = most; n > 1; --n) {
        unsigned sum = 0;
        bool safe = true;
        for (std::size_t i = 0; i < n && safe; ++i) {
            const std::uint8_t b = queue_[i];
            if (b == 0x00 || b == 0xFF || (i > 0 && b == (sum & 0xFF))) safe = false;
            sum += b;
        }
        if (safe && (sum & 0xFF) != 0x00 && (sum & 0xFF) != 0xFF) return n;
    }
    return 1;
}

Transmission Validator::pollAnswer() {
    Transmission tx;
    if (inFlight_ > 0) {
        log("\"event\":\"repeat\",\"kind\":\"poll\"");
    } else {
        inFlight_ = batchSize();
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

void Validator::stackEscrowed() {
    push(static_cast<std::uint8_t>(0x80 | escrowed_));
    records_.countAccepted(escrowed_);
    escrowed_ = -1;
}

Transmission Validator::answerFor(const ParsedItem& frame, std::string& kind) {
    const Bytes& f = frame.bytes;
    Transmission tx;
    const Bytes ack{0x00};
    switch (frame.kind) {
    case FrameKind::Reset:
        if (escrowed_ >= 0) log("\"event\":\"escrow_dropped\",\"type\":" + std::to_string(escrowed_));
        queue_.clear();
        inFlight_ = 0;
        mask_ = 0;
        escrowed_ = -1;
        push(0x06);
        tx.bytes = ack;
        break;
    case FrameKind::Setup:
        tx.bytes = records_.answer("setup");
        tx.expectsAck = true;
        break;
    case FrameKind::Security:
        tx.bytes = ack;
        break;
    case FrameKind::Poll:
        tx = pollAnswer();
        break;
    case FrameKind::BillType:
        mask_ = static_cast<std::uint32_t>(f[1]) << 24 | static_cast<std::uint32_t>(f[2]) << 16 |
                static_cast<std::uint32_t>(f[3]) << 8 | f[4];
        tx.bytes = ack;
        break;
    case FrameKind::Escrow:
        if (f[1] == 0x01 && escrowed_ >= 0) {
            stackEscrowed();
        } else if (f[1] == 0x00 && escrowed_ >= 0) {
            push(static_cast<std::uint8_t>(0xA0 | escrowed_));
            records_.countEvent(Records::EVENT_RETURNED_BY_CONTROLLER);
            escrowed_ = -1;
        } else {
            push(0x0A); // invalid escrow request: nothing held, or an unknown choice
        }
        tx.bytes = ack;
        break;
    case FrameKind::Stacker:
        tx.bytes = records_.stackerAnswer();
        tx.expectsAck = true;
        break;
    case FrameKind::Identification:
        tx.bytes = records_.answer("ident");
        tx.expectsAck = true;
        break;
    case FrameKind::Diagnostics: {
        if (f[2] != 'V' || f[3] != 'N' || f[4] != 'T' || f[5] != 0x00) {
            log("\"event\":\"ignored\",\"why\":\"maker code\"");
            break;
        }
        const char* name = nullptr;
        switch (f[6]) {
        case 0xE9:
            name = "sensors";
            break;
        case 0xE8:
            name = "optics";
            break;
        case 0xE7:
            name = "video";
            break;
        case 0xDD:
            name = "stats";
            break;
        case 0x32:
            name = "erase";
            break;
        default:
            break;
        }
        if (!name) {
            log("\"event\":\"ignored\",\"why\":\"function code\"");
            break;
        }
        kind = name;
        if (f[6] == 0x32) {
            records_.eraseStatistics();
            tx.bytes = ack;
        } else {
            tx.bytes = records_.answer(kind);
            tx.expectsAck = true;
        }
        break;
    }
    case FrameKind::Ack:
        break;
    }
    return tx;
}

std::string Validator::insertBill(int type, EscrowChoice escrow) {
    if (type < 0 || type > 15) return "bill type must be 0 to 15";
    if (escrowed_ >= 0) return "a bill is held in escrow";
    std::string result;
    if (!(mask_ & (1u << (16 + type)))) {
        push(static_cast<std::uint8_t>(0xC0 | type));
        records_.countEvent(Records::EVENT_DISABLED_BILL);
        result = "disabled";
    } else if (escrow == EscrowChoice::Escrow || (escrow == EscrowChoice::ByMask && (mask_ & (1u << type)))) {
        push(static_cast<std::uint8_t>(0x90 | type));
        escrowed_ = type;
        result = "escrowed";
    } else {
        escrowed_ = type;
        stackEscrowed();
        result = "stacked";
    }
    log("\"event\":\"insert\",\"type\":" + std::to_string(type) + ",\"result\":\"" + result + "\"");
    return "ok";
}

void Validator::insertCoupon() {
    push(0x0B);
    records_.countEvent(Records::EVENT_OPTICAL_TEST);
    log("\"event\":\"coupon\"");
}

std::string Validator::queueStatus(const Bytes& bytes) {
    for (auto b : bytes) {
        if (b == 0x00) return "status 00 would read as an acknowledge";
    }
    for (auto b : bytes)
        push(b);
    return "ok";
}

std::string Validator::apply(const Command& c) {
    using T = Command::Type;
    switch (c.type) {
    case T::Insert:
        return insertBill(c.billType, c.escrow);
    case T::Coupon:
        insertCoupon();
        return "ok";
    case T::Status:
        return queueStatus(c.bytes);
    case T::Fail:
        failures_.add(c.target, c.failure, c.count);
        return "ok";
    case T::FailClear:
        failures_.clear();
        return "ok";
    case T::Record: {
        std::string error;
        bool ok = true;
        if (c.recordOp == Command::RecordOp::Default)
            ok = records_.restoreDefault(c.target);
        else if (c.recordOp == Command::RecordOp::Clear)
            ok = records_.clear(c.target);
        else
            ok = records_.patch(c.target, c.offset, c.bytes, error);
        return ok ? "ok" : (error.empty() ? "unknown record " + c.target : error);
    }
    case T::Stacker:
        if (c.stackerCount >= 0) records_.stackerCount = static_cast<std::uint16_t>(c.stackerCount);
        if (c.stackerFull >= 0) records_.stackerFull = c.stackerFull == 1;
        return "ok";
    case T::End:
        return "ok";
    case T::Coin:
    case T::Controller:
    case T::Unplug:
        return "only the virtual machine (--machine) has a coin changer and a controller";
    }
    return "ok";
}

} // namespace norvex::sim
