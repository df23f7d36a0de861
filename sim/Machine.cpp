// SPDX-License-Identifier: GPL-3.0-or-later
#include "Machine.h"

#include <algorithm>

namespace norvex::sim {

namespace {

Bytes frame(Bytes b) {
    appendChecksum(b);
    return b;
}

std::optional<FrameKind> validatorKind(const Bytes& f) {
    switch (f.empty() ? 0 : f[0]) {
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
    case 0x37:
        if (f.size() >= 2 && f[1] == 0x00) return FrameKind::Identification;
        if (f.size() >= 2 && f[1] == 0xFF) return FrameKind::Diagnostics;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

const char* changerKind(const Bytes& f) {
    switch (f.empty() ? 0 : f[0]) {
    case 0x08:
        return "reset";
    case 0x09:
        return "setup";
    case 0x0A:
        return "tubes";
    case 0x0B:
        return "poll";
    case 0x0C:
        return "cointype";
    case 0x0D:
        return "dispense";
    default:
        return "expansion";
    }
}

const char* replyKind(std::uint8_t r) {
    return r == 0x00 ? "ack" : r == 0xAA ? "ret" : "nak";
}

} // namespace

Machine::Machine(Config config) : config_(config), validator_(config.validator) {
    queueStartup();
}

void Machine::queueStartup() {
    for (Peer& p : peers_)
        p = Peer{};
    // The validator: RESET, SETUP, identification, every bill type enabled with escrow.
    peers_[0].startup = {frame({0x30}), frame({0x31}), frame({0x37, 0x00}),
                         frame({0x34, 0xFF, 0xFF, 0xFF, 0xFF})};
    // The changer: RESET, SETUP, identification, tube status, coin types 0-3 enabled.
    peers_[1].startup = {frame({0x08}), frame({0x09}), frame({0x0F, 0x00}), frame({0x0A}),
                         frame({0x0C, 0x00, 0x0F, 0x00, 0x0F})};
}

std::vector<std::string> Machine::takeLog() {
    std::vector<std::string> out;
    out.swap(log_);
    for (auto& l : validator_.takeLog())
        out.push_back(l);
    for (auto& l : changer_.takeLog())
        out.push_back(l);
    return out;
}

void Machine::tick(std::int64_t nowUs) {
    validator_.tick(nowUs);
}

std::optional<Machine::Pending> Machine::takeControllerFault(const std::string& modes) {
    // The newest rule among the modes asked for wins; `modes` is one mode or "reply" for those
    // that replace the acknowledge.
    for (auto it = faults_.rbegin(); it != faults_.rend(); ++it) {
        const bool reply =
            it->mode == "noack" || it->mode == "lateack" || it->mode == "ret" || it->mode == "nak";
        if (modes == "reply" ? !reply : it->mode != modes) continue;
        Pending p = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(std::next(it).base());
        return p;
    }
    return std::nullopt;
}

std::string Machine::apply(const Command& c) {
    switch (c.type) {
    case Command::Type::Coin:
        return changer_.depositCoin(c.billType, c.toTubes);
    case Command::Type::Controller:
        faults_.push_back({c.controllerMode, c.controllerMode == "busreset" ? 1 : c.count, c.failure});
        return "ok";
    case Command::Type::FailClear:
        faults_.clear();
        return validator_.apply(c);
    case Command::Type::Unplug:
        return "ok"; // the host's business
    default:
        return validator_.apply(c);
    }
}

const BusWrite& Machine::next(std::int64_t nowUs) {
    if (!planned_) planCommand(nowUs);
    return write_;
}

Bytes Machine::pollFrame(bool validator) const {
    return validator ? Bytes{0x33, 0x33} : Bytes{0x0B, 0x0B};
}

void Machine::planCommand(std::int64_t nowUs) {
    write_ = BusWrite{};
    write_.atUs = std::max(nowUs, nextCommandUs_);
    write_.line = BusLine::Controller;
    write_.device = "controller";
    planned_ = true;
    step_ = Step::Command;
    if (takeControllerFault("busreset")) {
        // The line held low: a receiver reads one 00 (a break), then nothing.
        write_.bytes = {0x00};
        write_.modeBits = {0};
        write_.kind = "bus_reset";
        return;
    }
    if (auto noise = takeControllerFault("noise")) {
        FailurePlan maker;
        Failure f = noise->failure;
        f.mode = FailMode::Noise;
        f.at = Placement::Instead;
        Transmission tx;
        tx.bytes = {0x00};
        tx.modeBits = {0};
        maker.apply(tx, f, {});
        write_.bytes = tx.bytes;
        write_.modeBits = tx.modeBits;
        write_.kind = "noise";
        return;
    }
    // The validator's escrowed bills first; else each device in turn, its start-up, then POLL.
    if (!peers_[0].urgent.empty()) {
        toValidator_ = true;
        command_ = peers_[0].urgent.front();
        peers_[0].urgent.pop_front();
    } else {
        toValidator_ = nextValidator_;
        nextValidator_ = !nextValidator_;
        Peer& p = peers_[toValidator_ ? 0 : 1];
        if (!p.startup.empty()) {
            command_ = p.startup.front();
            p.startup.pop_front();
        } else {
            command_ = pollFrame(toValidator_);
        }
    }
    write_.bytes = command_;
    write_.modeBits.assign(command_.size(), 0);
    write_.modeBits[0] = 1; // the address byte
    write_.device = toValidator_ ? "validator" : "changer";
    const auto kind = toValidator_ ? validatorKind(command_) : std::nullopt;
    write_.kind = toValidator_ ? (kind ? frameKindName(*kind) : "unknown") : changerKind(command_);
    commandStartUs_ = write_.atUs;
}

void Machine::written(std::int64_t lastByteUs) {
    planned_ = false;
    if (write_.kind == "bus_reset") {
        log("\"event\":\"bus_reset\"");
        ParsedItem reset{ParsedItem::Type::Frame, FrameKind::Reset, {0x30, 0x30}};
        (void)validator_.onItem(reset, lastByteUs);
        changer_.reset();
        queueStartup();
        nextCommandUs_ = lastByteUs + config_.resetHoldUs;
        return;
    }
    if (write_.kind == "noise") {
        nextCommandUs_ = std::max(nextCommandUs_, lastByteUs + 2000);
        return;
    }
    switch (step_) {
    case Step::Command:
        commandSent(lastByteUs);
        break;
    case Step::Answer:
        answerSent(lastByteUs);
        break;
    case Step::Reply:
        replySent(lastByteUs);
        break;
    }
}

void Machine::commandSent(std::int64_t lastByteUs) {
    answer_ = Transmission{};
    if (toValidator_) {
        if (const auto kind = validatorKind(command_)) {
            const ParsedItem item{ParsedItem::Type::Frame, *kind, command_};
            if (auto tx = validator_.onItem(item, lastByteUs)) answer_ = *tx;
        }
    } else {
        answer_ = changer_.onCommand(command_);
    }
    const bool vanish = answer_.failure.mode == FailMode::Vanish;
    if (answer_.bytes.empty() && !vanish) {
        // No answer: the controller gives up after its 5 ms and goes on.
        nextCommandUs_ = std::max(commandStartUs_ + config_.pollIntervalUs, lastByteUs + 6000);
        return;
    }
    write_ = BusWrite{};
    write_.line = BusLine::Peripherals;
    write_.bytes = answer_.bytes;
    write_.modeBits = answer_.modeBits;
    write_.kind = answer_.kind;
    write_.device = toValidator_ ? "validator" : "changer";
    write_.failure = answer_.failure;
    write_.gapBefore = answer_.gapBefore;
    write_.atUs = lastByteUs + config_.answerDelayUs +
                  (answer_.failure.mode == FailMode::Late ? answer_.failure.gapMs * 1000 : 0);
    step_ = Step::Answer;
    planned_ = true;
}

void Machine::answerSent(std::int64_t lastByteUs) {
    if (toValidator_) {
        if (retransmitting_)
            validator_.onResent(lastByteUs);
        else
            validator_.onSent(lastByteUs);
    }
    retransmitting_ = false;
    answerEndUs_ = lastByteUs;
    // Noise after the answer is no part of it.
    const Bytes a(answer_.bytes.begin(),
                  answer_.bytes.begin() + static_cast<std::ptrdiff_t>(answer_.gapBefore > 0
                                                                          ? answer_.gapBefore
                                                                          : answer_.bytes.size()));
    if (!answer_.expectsAck) {
        // A bare ACK or NAK, or what is no answer at all (noise): nothing to acknowledge.
        nextCommandUs_ = std::max(commandStartUs_ + config_.pollIntervalUs, lastByteUs + 1000);
        return;
    }
    std::uint8_t reply = 0x00;
    std::int64_t delay = config_.ackDelayUs;
    if (mdbChecksum(std::span<const std::uint8_t>(a.data(), a.size() - 1)) != a.back()) {
        reply = 0xFF; // a checksum that does not hold: refused
    } else if (auto fault = takeControllerFault("reply")) {
        log("\"event\":\"vmc\",\"mode\":\"" + fault->mode + "\"");
        if (fault->mode == "noack") {
            nextCommandUs_ = std::max(commandStartUs_ + config_.pollIntervalUs, lastByteUs + 6000);
            return;
        }
        if (fault->mode == "lateack") delay = fault->failure.gapMs * 1000;
        if (fault->mode == "ret") reply = 0xAA;
        if (fault->mode == "nak") reply = 0xFF;
    }
    write_ = BusWrite{};
    write_.line = BusLine::Controller;
    write_.bytes = {reply};
    write_.modeBits = {0};
    write_.kind = replyKind(reply);
    write_.device = "controller";
    write_.atUs = lastByteUs + delay;
    step_ = Step::Reply;
    planned_ = true;
}

void Machine::replySent(std::int64_t lastByteUs) {
    const std::uint8_t reply = write_.bytes[0];
    if (reply == 0xAA) {
        // RET: the peripheral sends the same answer again.
        retransmitting_ = true;
        write_ = BusWrite{};
        write_.line = BusLine::Peripherals;
        write_.bytes = answer_.bytes;
        write_.modeBits = answer_.modeBits;
        write_.kind = answer_.kind;
        write_.device = toValidator_ ? "validator" : "changer";
        write_.atUs = lastByteUs + config_.answerDelayUs;
        step_ = Step::Answer;
        planned_ = true;
        return;
    }
    if (reply == 0x00) {
        // Late, the acknowledge counts for nothing: the peripheral sends the data again, and the
        // controller, which knows, does not act on them twice.
        const bool inTime = lastByteUs - answerEndUs_ <= 5000 + 1146;
        const bool again = answer_.bytes == lateAcked_;
        lateAcked_ = inTime ? Bytes{} : answer_.bytes;
        if (toValidator_) {
            const ParsedItem ack{ParsedItem::Type::Frame, FrameKind::Ack, {0x00}};
            (void)validator_.onItem(ack, lastByteUs);
            // A bill in escrow is stacked: the controller's ESCROW follows at once.
            if (command_ == pollFrame(true) && !again)
                for (std::size_t i = 0; i + 1 < answer_.bytes.size(); ++i)
                    if ((answer_.bytes[i] & 0xF0) == 0x90 && peers_[0].urgent.empty())
                        peers_[0].urgent.push_back(frame({0x35, 0x01}));
        } else {
            changer_.onAck(inTime);
        }
    }
    nextCommandUs_ = std::max(commandStartUs_ + config_.pollIntervalUs, lastByteUs + 1000);
}

} // namespace norvex::sim
