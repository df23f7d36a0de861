// SPDX-License-Identifier: GPL-3.0-or-later
#include "Loader.h"

namespace norvex::sim {

namespace {
const Bytes LOADER_ACK{'#', 'A'};
const Bytes LOADER_REFUSAL{'#', 'N'};

const char* codeName(std::uint8_t code) {
    switch (code) {
    case 0x08:
        return "hello";
    case 0x83:
        return "speed";
    case 0x75:
        return "query";
    case 0x20:
        return "header";
    case 0x0C:
        return "record";
    case 0x84:
        return "check";
    default:
        return "unknown";
    }
}
} // namespace

Loader::Loader(Config config) : config_(config) {}

std::vector<std::string> Loader::takeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    return out;
}

std::vector<Transmission> Loader::onBytes(std::span<const std::uint8_t> bytes, std::int64_t nowUs) {
    std::vector<Transmission> out;
    for (auto b : bytes)
        onByte(b, nowUs, out);
    flushGarbage();
    if (!bytes.empty()) lastByteUs_ = nowUs;
    return out;
}

void Loader::tick(std::int64_t nowUs) {
    if (nowUs - lastByteUs_ <= config_.stallUs) return;
    if (state_ != State::Frame) {
        abandon("stalled");
    } else if (!frame_.empty()) {
        garbage_.insert(garbage_.end(), frame_.begin(), frame_.end());
        frame_.clear();
        flushGarbage();
    }
}

std::optional<std::int64_t> Loader::deadline() const {
    if (state_ != State::Frame || !frame_.empty()) return lastByteUs_ + config_.stallUs + 1;
    return std::nullopt;
}

void Loader::flushGarbage() {
    if (garbage_.empty()) return;
    log("\"dir\":\"rx\",\"bad\":\"garbage\",\"bytes\":\"" + toHex(garbage_) + "\"");
    garbage_.clear();
}

void Loader::abandon(const std::string& why) {
    log("\"event\":\"abandoned\",\"why\":\"" + why + "\"");
    state_ = State::Frame;
    block_.clear();
}

void Loader::answer(const std::string& kind, Bytes bytes, std::vector<Transmission>& out) {
    Transmission tx;
    tx.kind = kind;
    tx.bytes = std::move(bytes);
    // Failure modes are chosen by the step's name; the block steps fail at their final acknowledge.
    std::string target = kind;
    if (kind == "header_ack")
        target = "header";
    else if (kind == "record_ack")
        target = "record";
    if (kind != "header" && kind != "record" && kind != "echo") {
        if (auto f = failures_.take(target)) {
            log("\"event\":\"fail\",\"mode\":\"" + std::string(failModeName(f->mode)) + "\",\"kind\":\"" +
                kind + "\"");
            failures_.apply(tx, *f, LOADER_REFUSAL);
        }
    }
    out.push_back(std::move(tx));
}

void Loader::onByte(std::uint8_t b, std::int64_t nowUs, std::vector<Transmission>& out) {
    (void)nowUs;
    switch (state_) {
    case State::Frame:
        frame_.push_back(b);
        while (!frame_.empty()) {
            if (frame_[0] != '#' || (frame_.size() >= 2 && frame_[1] != 'C')) {
                garbage_.push_back(frame_[0]);
                frame_.erase(frame_.begin());
                continue;
            }
            if (frame_.size() < 4) break;
            if (frame_[3] == static_cast<std::uint8_t>(~frame_[2])) {
                flushGarbage();
                const std::uint8_t code = frame_[2];
                log("\"dir\":\"rx\",\"frame\":\"" + toHex(frame_) + "\",\"kind\":\"" + codeName(code) + "\"");
                frame_.clear();
                onFrame(code, out);
                break;
            }
            flushGarbage();
            log("\"dir\":\"rx\",\"bad\":\"complement\",\"bytes\":\"" + toHex(frame_) + "\"");
            frame_.erase(frame_.begin());
        }
        break;
    case State::SpeedByte:
        if (b == 0x02)
            baud_ = 38400;
        else if (b == 0x01)
            baud_ = 19200;
        else if (b == 0x00)
            baud_ = 9600;
        log("\"dir\":\"rx\",\"frame\":\"" + toHex(std::span<const std::uint8_t>(&b, 1)) +
            "\",\"kind\":\"speed_byte\"" + ",\"baud\":" + std::to_string(baud_));
        state_ = State::Frame;
        break;
    case State::Address:
        block_.push_back(b);
        if (block_.size() == 3) {
            std::copy(block_.begin(), block_.end(), address_.begin());
            log("\"dir\":\"rx\",\"address\":\"" + toHex(block_) + "\"");
            block_.clear();
            state_ = State::Block;
            answer("record", LOADER_ACK, out);
        }
        break;
    case State::Block:
        block_.push_back(b);
        if (block_.size() == BLOCK_SIZE) {
            log("\"dir\":\"rx\",\"block\":\"" + std::string(blockIsHeader_ ? "header" : "record") +
                "\",\"bytes\":\"" + toHex(block_) + "\"");
            state_ = State::FinalAck;
            frame_.clear();
            answer("echo", block_, out);
        }
        break;
    case State::FinalAck:
        frame_.push_back(b);
        if (frame_.size() < 2) break;
        if (frame_ != LOADER_ACK) {
            log("\"dir\":\"rx\",\"bad\":\"acknowledge\",\"bytes\":\"" + toHex(frame_) + "\"");
            Bytes again;
            again.swap(frame_);
            abandon("no acknowledge");
            for (auto x : again)
                onByte(x, nowUs, out);
            break;
        }
        log("\"dir\":\"rx\",\"frame\":\"23 41\",\"kind\":\"ack\"");
        frame_.clear();
        state_ = State::Frame;
        answer(blockIsHeader_ ? "header_ack" : "record_ack", LOADER_ACK, out);
        if (out.back().bytes != LOADER_ACK) break; // refused: the tool repeats the exchange
        if (blockIsHeader_) {
            header_ = block_;
            haveHeader_ = true;
            ++headersAccepted_;
            records_.clear();
        } else {
            records_.push_back({address_, block_});
        }
        block_.clear();
        break;
    }
}

void Loader::onFrame(std::uint8_t code, std::vector<Transmission>& out) {
    switch (code) {
    case 0x08:
        answer("hello", LOADER_ACK, out);
        break;
    case 0x83:
        state_ = State::SpeedByte;
        break;
    case 0x75:
        answer("query", Bytes{0x02, 0x07}, out);
        break;
    case 0x20:
        blockIsHeader_ = true;
        block_.clear();
        state_ = State::Block;
        answer("header", LOADER_ACK, out);
        break;
    case 0x0C:
        blockIsHeader_ = false;
        block_.clear();
        state_ = State::Address;
        break;
    case 0x84: {
        const std::uint16_t v = checkValue();
        answer("check", Bytes{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)}, out);
        break;
    }
    default:
        log("\"event\":\"ignored\",\"why\":\"unknown loader code\"");
        break;
    }
}

std::uint16_t Loader::checkValue() const {
    switch (config_.check) {
    case CheckMode::Fixed:
        return config_.fixedCheck;
    case CheckMode::Header:
        return haveHeader_ ? static_cast<std::uint16_t>(header_[126] << 8 | header_[127]) : 0;
    case CheckMode::Sum: {
        unsigned sum = 0;
        for (const auto& r : records_)
            for (auto b : r.data)
                sum += b;
        return static_cast<std::uint16_t>(sum);
    }
    case CheckMode::Crc: {
        std::uint16_t crc = 0xFFFF;
        for (const auto& r : records_)
            crc = crc16Ccitt(r.data, crc);
        return crc;
    }
    }
    return 0;
}

Bytes Loader::dump() const {
    Bytes out;
    if (haveHeader_) out = header_;
    for (const auto& r : records_) {
        out.insert(out.end(), r.address.begin(), r.address.end());
        out.insert(out.end(), r.data.begin(), r.data.end());
    }
    return out;
}

std::string Loader::apply(const Command& c) {
    switch (c.type) {
    case Command::Type::Fail:
        failures_.add(c.target, c.failure, c.count);
        return "ok";
    case Command::Type::FailClear:
        failures_.clear();
        return "ok";
    case Command::Type::End:
        return "ok";
    default:
        return "not available in loader mode";
    }
}

} // namespace norvex::sim
