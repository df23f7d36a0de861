// SPDX-License-Identifier: GPL-3.0-or-later
#include "ResponseAssembler.h"

#include <algorithm>

namespace norvex::link {

namespace {

// Longest short answer: 16 status bytes and their checksum.
constexpr std::uint32_t SHORT_STATUS_MAX = 16;

void clearReception(RequestRecord& r) {
    r.data.fill(0);
    r.count = 0;
    r.sum = 0;
}

} // namespace

std::size_t ResponseAssembler::fixedLength(ResponseMode mode) {
    switch (mode) {
    case MODE_SETUP:
        return SETUP_LENGTH;
    case MODE_STACKER:
        return STACKER_LENGTH;
    case MODE_SENSORS:
        return SENSORS_LENGTH;
    case MODE_IDENT:
        return IDENT_LENGTH;
    case MODE_OPTICS:
        return OPTICS_LENGTH;
    case MODE_VIDEO:
        return VIDEO_LENGTH;
    case MODE_STATS:
        return STATS_LENGTH;
    default:
        return 0;
    }
}

std::uint8_t ResponseAssembler::completionCode(ResponseMode mode) {
    switch (mode) {
    case MODE_SHORT:
        return RESP_POLL;
    case MODE_SETUP:
        return RESP_SETUP;
    case MODE_STACKER:
        return RESP_STACKER;
    case MODE_SENSORS:
        return RESP_SENSORS;
    case MODE_IDENT:
        return RESP_IDENT;
    case MODE_OPTICS:
        return RESP_OPTICS;
    case MODE_VIDEO:
        return RESP_VIDEO;
    case MODE_STATS:
        return RESP_STATS;
    default:
        return 0;
    }
}

RequestKind ResponseAssembler::recordKind(ResponseMode mode) {
    switch (mode) {
    case MODE_SHORT:
        return REQ_POLL;
    case MODE_SETUP:
        return REQ_SETUP;
    case MODE_STACKER:
        return REQ_CASS_INFO;
    case MODE_SENSORS:
        return REQ_SENSORS;
    case MODE_IDENT:
        return REQ_DEVICE_ID;
    default:
        return REQ_COUNT;
    }
}

ResponseMode ResponseAssembler::modeForFrame(const std::uint8_t* f, std::size_t n, bool& changes) {
    changes = true;
    if (n == 0) {
        changes = false;
        return MODE_IDLE;
    }
    switch (f[0]) {
    case 0x30:
    case 0x32: // SECURITY
    case 0x33:
    case 0x34:
    case 0x35:
        return MODE_SHORT;
    case 0x31:
        return MODE_SETUP;
    case 0x36:
        return MODE_STACKER;
    case 0x37:
        // EXPANSION: the sub-command says what comes back. Identification is a record, feature
        // enable a bare ACK, and only the maker's diagnostics frame (sub-command FF) carries a
        // function code, in its seventh byte.
        if (n < 2) break;
        if (f[1] == 0x00) return MODE_IDENT;
        if (f[1] == 0x01) return MODE_SHORT;
        if (f[1] == 0xFF && n >= 7) {
            switch (f[6]) {
            case 0xE9:
                return MODE_SENSORS;
            case 0xE8:
                return MODE_OPTICS;
            case 0xE7:
                return MODE_VIDEO;
            case 0xDD:
                return MODE_STATS;
            case 0x32:
                return MODE_SHORT;
            default:
                break;
            }
        }
        break;
    default:
        break;
    }
    changes = false;
    return MODE_IDLE;
}

void ResponseAssembler::frameSent(const std::uint8_t* frame, std::size_t length) {
    Reception rx(d_);
    frameSent(rx, frame, length);
}

Completion ResponseAssembler::feed(std::uint8_t byte, bool marked) {
    Reception rx(d_);
    return feed(rx, byte, marked);
}

Completion ResponseAssembler::endOfRead() {
    Reception rx(d_);
    return endOfRead(rx);
}

Completion ResponseAssembler::lineQuiet() {
    Reception rx(d_);
    return lineQuiet(rx);
}

Completion ResponseAssembler::feedRead(const LineByte* bytes, std::size_t n, std::size_t& used) {
    Reception rx(d_);
    Completion done;
    for (used = 0; used < n && !done.complete && !done.checksumFault; ++used)
        done = feed(rx, bytes[used].value, bytes[used].marked);
    if (!done.complete && !done.checksumFault) done = endOfRead(rx);
    return done;
}

void ResponseAssembler::frameSent(Reception& rx, const std::uint8_t* f, std::size_t n) {
    TrafficBuffer& traffic = rx.traffic();
    if (n > 1) {
        traffic.clear();
        rx.resetSinceFrame() = false;
        endedByMark_ = false;
        endedOnChecksum_ = false;
    }

    bool changes = false;
    const ResponseMode mode = modeForFrame(f, n, changes);
    if (changes) {
        switch (mode) {
        case MODE_SHORT:
            // Every frame that expects a short answer starts the record afresh, so that the
            // remains of an unfinished answer cannot join the next one.
            clearReception(rx.record(REQ_POLL));
            if (f[0] == 0x37) {
                rx.diagCount() = 0;
                rx.record(REQ_CLEAR_STATS).elapsedMs = 0;
            }
            break;
        case MODE_SETUP:
        case MODE_SENSORS:
        case MODE_IDENT: {
            RequestRecord& r = rx.record(recordKind(mode));
            r.data.fill(0);
            r.count = 0;
            r.elapsedMs = 0;
            break;
        }
        case MODE_STACKER: {
            RequestRecord& r = rx.record(REQ_CASS_INFO);
            std::fill_n(r.data.begin(), 24, std::uint8_t{0});
            r.count = 0;
            r.elapsedMs = 0;
            break;
        }
        case MODE_OPTICS:
            rx.diagCount() = 0;
            rx.record(REQ_OPTICS).elapsedMs = 0;
            break;
        case MODE_VIDEO:
            rx.diagCount() = 0;
            rx.record(REQ_VIDEO).elapsedMs = 0;
            break;
        case MODE_STATS:
            rx.diagCount() = 0;
            rx.record(REQ_STATISTICS).elapsedMs = 0;
            break;
        default:
            break;
        }
        d_.responseMode = mode;
        pending_ = false;
        pendingLast_ = false;
        pendingByMark_ = false;
        overrun_ = false;
        answerBytes_ = 0;
        lastMarked_ = false;
        earlierMarked_ = true;
    }

    if (n > 1) {
        for (std::size_t i = 0; i < n && traffic.pos < TRAFFIC_SIZE; ++i)
            traffic.sent[traffic.pos++] = f[i];
    }
}

Completion ResponseAssembler::completeWithAck(Reception& rx, std::uint8_t code) {
    // queueAck: the acknowledge is marked at the position of the last received byte.
    d_.responseMode = MODE_IDLE;
    TrafficBuffer& traffic = rx.traffic();
    if (traffic.pos > 0) traffic.sent[traffic.pos - 1u] = 0x0000;
    traffic.pos = 0;
    answerEnded();
    return {true, true, code};
}

Completion ResponseAssembler::completeShort(Reception& rx, bool ack, std::uint8_t length) {
    RequestRecord& r = rx.record(REQ_POLL);
    r.count = 0;
    r.sum = 0;
    r.state = RequestState::Idle;
    rx.shortAnswerLength() = length;
    pending_ = false;
    if (ack) return completeWithAck(rx, RESP_POLL);
    d_.responseMode = MODE_IDLE;
    answerEnded();
    return {true, false, RESP_POLL};
}

Completion ResponseAssembler::feedShort(Reception& rx, std::uint8_t b, bool marked) {
    RequestRecord& r = rx.record(REQ_POLL);
    if (overrun_) return {};
    if (pending_) {
        // A byte followed the one that matched the running sum: that one was a status byte.
        pending_ = false;
        if (pendingIntact(rx)) {
            if (pendingLast_) {
                // ... but it was the 17th: there is no answer here (noise, or two answers run
                // together), and nothing is acknowledged; the validator repeats unacknowledged data.
                overrun_ = true;
                return {};
            }
            r.sum = static_cast<std::uint16_t>(r.sum + pendingByte_);
        }
    }
    const bool checksum = b == static_cast<std::uint8_t>(r.sum);
    // Where the port's marks are trusted, an unmarked byte that matches ends the answer as soon
    // as the bytes in hand are used up: it waits for no quiet line.
    const bool endsByMark = framing_ == Framing::ModeBit && !marked;
    if (r.count >= SHORT_STATUS_MAX) {
        // Sixteen status bytes may be followed by their checksum and by nothing else.
        r.data[SHORT_STATUS_MAX] = b;
        if (!checksum) {
            overrun_ = true;
            return {};
        }
        pending_ = true;
        pendingLast_ = true;
        pendingByMark_ = endsByMark;
        pendingByte_ = b;
        return {};
    }
    r.data[r.count] = b;
    ++r.count;
    if (r.count == 1 && (b == 0x00 || b == 0xFF)) {
        // A bare ACK or NAK: complete without acknowledging.
        return completeShort(rx, false, 1);
    }
    if (r.count > 1 && checksum) {
        pending_ = true;
        pendingLast_ = false;
        pendingByMark_ = endsByMark;
        pendingByte_ = b;
        return {};
    }
    r.sum = static_cast<std::uint16_t>(r.sum + b);
    return {};
}

bool ResponseAssembler::pendingIntact(Reception& rx) const {
    const std::uint32_t count = rx.record(REQ_POLL).count;
    return pendingLast_ ? count == SHORT_STATUS_MAX : count >= 2;
}

std::uint8_t ResponseAssembler::pendingLength(Reception& rx) const {
    return pendingLast_ ? static_cast<std::uint8_t>(SHORT_STATUS_MAX + 1)
                        : static_cast<std::uint8_t>(rx.record(REQ_POLL).count);
}

void ResponseAssembler::abandonIfReset(Reception& rx) {
    if (!rx.resetSinceFrame()) return;
    rx.resetSinceFrame() = false;
    switch (d_.responseMode.load()) {
    case MODE_SHORT:
    case MODE_SETUP:
    case MODE_STACKER:
    case MODE_SENSORS:
        // RESET in the menu cleared the record this answer was going into: what has come of it
        // is gone, so the rest cannot make a whole answer. Nothing is acknowledged, and the
        // validator keeps the data.
        d_.responseMode = MODE_IDLE;
        pending_ = false;
        overrun_ = false;
        break;
    default:
        break;
    }
}

Completion ResponseAssembler::endOfRead(Reception& rx) {
    abandonIfReset(rx);
    if (!pending_ || !pendingByMark_) return {};
    if (d_.responseMode.load() != MODE_SHORT || !pendingIntact(rx)) {
        pending_ = false;
        return {};
    }
    Completion done = completeOnChecksum(rx);
    endedByMark_ = true;
    done.byMark = true;
    return done;
}

Completion ResponseAssembler::completeOnChecksum(Reception& rx) {
    const std::uint8_t length = pendingLength(rx);
    const std::uint16_t trafficPos = rx.traffic().pos;
    Completion done = completeShort(rx, true, length);
    endedOnChecksum_ = true;
    endLength_ = length;
    endTrafficPos_ = trafficPos;
    done.resumable = true;
    return done;
}

bool ResponseAssembler::resumeEndedAnswer() {
    Reception rx(d_);
    if (!endedOnChecksum_ || d_.responseMode.load() != MODE_IDLE || rx.resetSinceFrame()) return false;
    // The byte that matched the sum was a status byte after all: the answer goes on from it.
    // Where the mode bit ended it, the marks were wrong: the checksum and the quiet line frame
    // this port from now on.
    endedOnChecksum_ = false;
    if (endedByMark_) contradicted();
    endedByMark_ = false;
    RequestRecord& r = rx.record(REQ_POLL);
    r.count = endLength_;
    r.sum = 0;
    for (std::uint32_t i = 0; i < r.count && i < SHORT_STATUS_MAX; ++i)
        r.sum = static_cast<std::uint16_t>(r.sum + r.data[i]);
    rx.shortAnswerLength() = 0;
    TrafficBuffer& traffic = rx.traffic();
    traffic.pos = endTrafficPos_;
    pending_ = false;
    overrun_ = endLength_ > SHORT_STATUS_MAX; // seventeen bytes and more: no answer
    if (overrun_) r.count = SHORT_STATUS_MAX;
    d_.responseMode = MODE_SHORT;
    return true;
}

void ResponseAssembler::abandonResumedAnswer() {
    Reception rx(d_);
    d_.responseMode = MODE_IDLE;
    pending_ = false;
    overrun_ = false;
    RequestRecord& r = rx.record(REQ_POLL);
    r.count = 0;
    r.sum = 0;
    r.state = RequestState::Idle;
    // The first bytes of the record are still the answer as it ended: only later ones followed.
    rx.shortAnswerLength() =
        static_cast<std::uint8_t>(std::min<std::uint32_t>(endLength_, SHORT_STATUS_MAX + 1));
    TrafficBuffer& traffic = rx.traffic();
    traffic.pos = 0;
}

Completion ResponseAssembler::lineQuiet(Reception& rx) {
    abandonIfReset(rx);
    if (!pending_) return {};
    if (d_.responseMode.load() != MODE_SHORT || !pendingIntact(rx)) {
        // Abandoned, or its record cleared under it: nothing to acknowledge, the validator
        // repeats the data.
        pending_ = false;
        return {};
    }
    if (framing_ == Framing::ModeBit && !pendingByMark_) {
        // The byte matched the sum but carried a mark, so by the port's marks the answer goes on,
        // yet nothing came: the marks cannot be trusted on this port. This answer is not
        // acknowledged (the validator sends it again at the next POLL) and the checksum and the
        // quiet line frame from now on; a byte that still comes makes this one a status byte.
        contradicted();
        return {};
    }
    return completeOnChecksum(rx);
}

void ResponseAssembler::markEvidence(bool marked) {
    if (marked) marksSeen_ = true;
    if (answerBytes_ > 0) {
        // Only the last byte of an answer has a mode bit of 1.
        if (!lastMarked_) contradicted();
        earlierMarked_ = earlierMarked_ && lastMarked_;
    }
    lastMarked_ = marked;
    ++answerBytes_;
}

void ResponseAssembler::answerEnded() {
    if (!marksSeen_ || answerBytes_ == 0) return;
    if (lastMarked_)
        contradicted();
    else if (answerBytes_ >= 2 && earlierMarked_ && framing_ == Framing::QuietLine)
        framing_ = Framing::ModeBit;
}

void ResponseAssembler::contradicted() {
    if (marksSeen_) framing_ = Framing::MarksUnreliable;
}

Completion ResponseAssembler::feed(Reception& rx, std::uint8_t b, bool marked) {
    TrafficBuffer& traffic = rx.traffic();
    if (traffic.pos < TRAFFIC_SIZE) traffic.received[traffic.pos++] = b;

    abandonIfReset(rx);
    const auto mode = static_cast<ResponseMode>(d_.responseMode.load());
    if (mode == MODE_IDLE) {
        if (endedByMark_) {
            // The mode bit ended the answer, yet bytes still come before the next frame: the
            // driver stopped marking inside that answer. The marks no longer frame this port.
            endedByMark_ = false;
            contradicted();
        }
        return {};
    }
    markEvidence(marked);
    if (mode == MODE_SHORT) return feedShort(rx, b, marked);

    const std::size_t length = fixedLength(mode);
    const RequestKind kind = recordKind(mode);
    if (kind != REQ_COUNT) {
        RequestRecord& r = rx.record(kind);
        if (r.count < RECORD_DATA_SIZE) r.data[r.count] = b;
        if (++r.count >= length) {
            r.count = 0;
            return completeRecord(rx, r.data.data(), length, mode);
        }
        return {};
    }
    std::uint16_t& diagCount = rx.diagCount();
    if (diagCount < DIAG_BUFFER_SIZE) rx.diag()[diagCount] = b;
    if (++diagCount >= length) {
        diagCount = 0;
        return completeRecord(rx, rx.diag().data(), length, mode);
    }
    return {};
}

bool ResponseAssembler::checksumFits(const std::uint8_t* bytes, std::size_t length) {
    if (length < 2) return false;
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i + 1 < length; ++i)
        sum = static_cast<std::uint8_t>(sum + bytes[i]);
    return sum == bytes[length - 1];
}

Completion ResponseAssembler::completeRecord(Reception& rx, const std::uint8_t* bytes, std::size_t length,
                                             ResponseMode mode) {
    if (checksumFits(bytes, length)) return completeWithAck(rx, completionCode(mode));
    // A byte was hit on the line: the record is neither acknowledged nor handed on. Unacknowledged,
    // the validator keeps it, and the request's time-out asks for it again; what still follows
    // belongs to no answer.
    d_.responseMode = MODE_IDLE;
    answerEnded();
    Completion c;
    c.checksumFault = true;
    return c;
}

} // namespace norvex::link
