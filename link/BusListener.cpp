// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusListener.h"

#include "MdbCommands.h"

#include <algorithm>

namespace norvex::link {

namespace {

bool isReplyByte(std::uint8_t b) {
    return b == MDB_ACK || b == MDB_RET || b == MDB_NAK;
}

} // namespace

// --- input ---------------------------------------------------------------------------------------------

void BusListener::received(Line line, const LineByte* bytes, std::size_t n, std::int64_t readUs) {
    Side& s = side(line);
    // Never earlier than a byte given before on this line, nor than where the sweep has got to:
    // a read that comes later than the hold allows is taken as late as that.
    const std::int64_t floor = sweptUs_;
    const std::int64_t notBefore = awakeUs_ == LONG_AGO ? LONG_AGO : awakeUs_ - READ_LATENCY_US;
    for (std::size_t i = 0; i < n; ++i) {
        std::int64_t us = readUs - static_cast<std::int64_t>(n - 1 - i) * MDB_CHAR_US;
        us = std::max({us, s.lastUs, floor});
        s.lastUs = us;
        s.queue.push_back({us, notBefore, bytes[i].value, bytes[i].marked});
        // A POLL (its command byte twice) where a line carries it, whatever the framing.
        const std::uint8_t v = bytes[i].value;
        if (v == s.previous && isPollCommand(v) && commandLengths(&v, 1).count > 0) ++s.polls;
        s.previous = v;
    }
}

void BusListener::advance(std::int64_t nowUs) {
    awakeUs_ = std::max(awakeUs_, nowUs);
    // Each line can bring nothing earlier than its newest byte, nor than a hold before now.
    const std::int64_t controller = std::max(side(Line::Controller).lastUs, nowUs - HOLD_US);
    const std::int64_t peripheral = std::max(side(Line::Peripheral).lastUs, nowUs - HOLD_US);
    const std::int64_t horizon = std::min(controller, peripheral) - SKEW_US;
    sweep(horizon);
    // Everything up to the horizon is taken: the sweep has got there.
    sweptUs_ = std::max(sweptUs_, horizon);
}

void BusListener::finish(std::int64_t nowUs) {
    std::int64_t last = LONG_AGO;
    for (Line line : {Line::Controller, Line::Peripheral})
        if (!side(line).queue.empty()) last = std::max(last, side(line).queue.back().us);
    // Bytes that wait for the other line's command or answer to end are taken after it.
    const auto drain = [&] {
        for (;;) {
            if (last != LONG_AGO) sweep(last);
            if (side(Line::Controller).queue.empty() && side(Line::Peripheral).queue.empty()) return;
            if (commandOpen_) {
                closeCommand(); // one taken apart puts its bytes back to be framed again
            } else if (unitOpen_) {
                closeUnit();
            } else {
                sweep(NEVER - 1); // nothing holds a byte back now
                return;
            }
        }
    };
    drain();
    // The quiet that the open waits need did not pass: each ends as it stands.
    if (zeroWatch_) endZeroWatch(nowUs - zero_.us >= RESET_QUIET_US);
    while (commandOpen_ && !closeCommand())
        drain();
    if (unitOpen_) closeUnit();
    finalize();
    finished_ = true;
}

std::int64_t BusListener::releasedUntil() const {
    // The protocol's order can finish an exchange that began up to a window before one finished
    // already: an exchange waits until nothing that began before it can still finish.
    if (finished_) return NEVER;
    std::int64_t bound = sweptUs_ == LONG_AGO ? LONG_AGO : sweptUs_ - ORDER_WINDOW_US;
    if (exOpen_) bound = std::min(bound, ex_.firstUs());
    if (unitOpen_) bound = std::min(bound, unitFirstUs_);
    if (zeroWatch_) bound = std::min(bound, zero_.us);
    // Bytes put back (a command taken apart, or a byte that waits for the other line).
    for (Line line : {Line::Controller, Line::Peripheral})
        if (!side(line).queue.empty()) bound = std::min(bound, side(line).queue.front().us);
    for (const HeardExchange& d : deferred_)
        bound = std::min(bound, d.firstUs());
    return bound;
}

std::size_t BusListener::take(std::vector<HeardExchange>& out) {
    std::stable_sort(ready_.begin(), ready_.end(), [](const HeardExchange& a, const HeardExchange& b) {
        return a.firstUs() < b.firstUs();
    });
    const std::int64_t bound = releasedUntil();
    std::size_t n = 0;
    while (n < ready_.size() && ready_[n].firstUs() <= bound) {
        ready_[n].number = ++number_;
        out.push_back(ready_[n]);
        ++n;
    }
    ready_.erase(ready_.begin(), ready_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

std::optional<std::int64_t> BusListener::deadline() const {
    const std::int64_t timer = nextTimer();
    std::int64_t first = timer;
    // A byte that waits for the other line is taken no earlier than its wait allows.
    if (!side(Line::Controller).queue.empty())
        first = std::min(first, std::max(side(Line::Controller).queue.front().us, controllerHeldUntil()));
    if (!side(Line::Peripheral).queue.empty())
        first = std::min(first, std::max(side(Line::Peripheral).queue.front().us, peripheralHeldUntil()));
    // An exchange held back is let go once the sweep has passed it by the window (one held by
    // an earlier exchange still open goes with that one).
    for (const HeardExchange& h : ready_)
        if (sweptUs_ == LONG_AGO || h.firstUs() > sweptUs_ - ORDER_WINDOW_US)
            first = std::min(first, h.firstUs() + ORDER_WINDOW_US);
    if (first >= NEVER || finished_) return std::nullopt;
    // advance() takes it once the hold has passed for both lines; a look at the lines when a
    // wait runs out shows that they stayed quiet that long.
    const std::int64_t take = first + HOLD_US + SKEW_US;
    return timer > awakeUs_ && timer < take ? timer : take;
}

// --- the sweep ------------------------------------------------------------------------------------------

void BusListener::sweep(std::int64_t horizon) {
    Side& c = side(Line::Controller);
    Side& p = side(Line::Peripheral);
    for (;;) {
        // A byte that must wait for the other line's command or answer to end is taken no
        // earlier than the quiet that ends it unfinished.
        const std::int64_t kc = c.queue.empty() ? NEVER : std::max(c.queue.front().us, controllerHeldUntil());
        const std::int64_t kp = p.queue.empty() ? NEVER : std::max(p.queue.front().us, peripheralHeldUntil());
        const std::int64_t kb = std::min(kc, kp);
        const std::int64_t kt = nextTimer();
        if (kt < kb) {
            // A wait runs out before the next byte: the line stayed quiet that long.
            if (kt > horizon) return;
            sweptUs_ = std::max(sweptUs_, kt);
            fireTimers(kt);
            continue;
        }
        if (kb >= NEVER || kb > horizon) return;
        bool peripheral = kp < kc;
        if (kc < NEVER && kp < NEVER && std::max(kc, kp) - kb < ORDER_WINDOW_US && kc == c.queue.front().us &&
            kp == p.queue.front().us)
            peripheral = peripheralFirst(c.queue.front(), p.queue.front());
        sweptUs_ = std::max(sweptUs_, kb);
        if (peripheral) {
            const Stamped s = p.queue.front();
            p.queue.pop_front();
            peripheralByte(s);
        } else {
            const Stamped s = c.queue.front();
            c.queue.pop_front();
            controllerByte(s);
        }
    }
}

bool BusListener::peripheralFirst(const Stamped& c, const Stamped& p) const {
    // A command that is not complete yet goes on first, and so does an answer (the other line
    // spoke after it ended) unless the reader looked at its line longer than a pause inside an
    // answer before this byte came (the answer was cut short), or a byte that follows the
    // answer's last as its next byte would and is read less than a character after the other
    // line's; a complete answer ends where the times say.
    if (commandOpen_ && !commandPending_) return false;
    if (unitOpen_)
        return p.us <= c.us || (p.us - c.us < MDB_CHAR_US && p.us - unitLastUs_ <= NEXT_BYTE_US) ||
               (!unitComplete() && p.notBeforeUs - unitLastUs_ <= NEXT_BYTE_US);
    // A command waits for its answer: a controller that speaks again before the answer's time
    // is up has had the answer, so an answer byte read about then goes first. After that time
    // the controller has given up and the bytes go by their times.
    if (exOpen_ && !commandOpen_ && (stage_ == Stage::AwaitAnswer || stage_ == Stage::AwaitRetransmission)) {
        const std::int64_t asked = stage_ == Stage::AwaitAnswer ? ex_.commandLastUs : ex_.replyUs;
        if (c.us - MDB_CHAR_US - asked <= MDB_RESPONSE_LIMIT_US) return true;
        return p.us < c.us;
    }
    // Nothing waits for an answer: the controller's byte goes first, and the answer is to it.
    if (!unitOpen_ && !commandOpen_) return false;
    return p.us < c.us;
}

std::int64_t BusListener::controllerHeldUntil() const {
    // A reply byte while an answer is still short of its end acknowledges nothing yet: the rest
    // of the answer is on its way on a line delivered late.
    const Side& c = side(Line::Controller);
    if (!unitOpen_ || !unitIsAnswer_ || unitComplete() || c.queue.empty()) return LONG_AGO;
    const Stamped& s = c.queue.front();
    if (!isReplyByte(s.value) || (c.framing == Framing::ModeBit && !s.marked)) return LONG_AGO;
    // Within the window of the lines' disagreement; an answer whose checksum failed has ended
    // when its line stays quiet that long after the reply.
    return std::min(unitLastUs_ + UNFINISHED_GAP_US + 1, s.us + ORDER_WINDOW_US);
}

std::int64_t BusListener::peripheralHeldUntil() const {
    // An answer begins only once the command has ended (at its length, or on its checksum).
    const Side& p = side(Line::Peripheral);
    if (!commandOpen_ || commandEndsOnAnswer() || p.queue.empty()) return LONG_AGO;
    return std::min(ex_.commandLastUs + commandGap() + 1, p.queue.front().us + ORDER_WINDOW_US);
}

std::int64_t BusListener::commandGap() const {
    return commandPending_ ? COMMAND_GAP_US : UNFINISHED_GAP_US;
}

std::int64_t BusListener::unitGap() const {
    const bool byMarks = side(Line::Peripheral).framing == Framing::ModeBit;
    return !byMarks && unitComplete() ? ANSWER_GAP_US : UNFINISHED_GAP_US;
}

bool BusListener::unitComplete() const {
    // By the marks, an answer ends on its last byte, and is no longer open then.
    if (side(Line::Peripheral).framing == Framing::ModeBit) return false;
    if (unitCount_ == 1) return unitBytes_[0] == MDB_ACK || unitBytes_[0] == MDB_NAK;
    return unitCount_ <= unitBytes_.size() && checksumHolds(unitBytes_.data(), unitCount_);
}

bool BusListener::quietUntil(Line line, std::int64_t at) const {
    const Side& s = side(line);
    return s.queue.empty() || s.queue.front().notBeforeUs > at;
}

std::int64_t BusListener::nextTimer() const {
    std::int64_t t = NEVER;
    auto consider = [&](std::int64_t at, bool controller, bool peripheral) {
        if ((controller && !quietUntil(Line::Controller, at)) ||
            (peripheral && !quietUntil(Line::Peripheral, at)))
            return;
        t = std::min(t, at);
    };
    if (zeroWatch_) consider(zero_.us + RESET_QUIET_US, true, true);
    if (commandOpen_) consider(ex_.commandLastUs + commandGap(), true, false);
    if (unitOpen_) consider(unitLastUs_ + unitGap(), false, true);
    if (exOpen_ && !commandOpen_ && !unitOpen_) {
        switch (stage_) {
        case Stage::AwaitAnswer:
            consider(ex_.commandLastUs + ANSWER_WAIT_US, false, true);
            break;
        case Stage::AwaitReply:
            consider(ex_.answerLastUs + REPLY_WAIT_US, true, false);
            break;
        case Stage::AwaitRetransmission:
            consider(ex_.replyUs + ANSWER_WAIT_US, false, true);
            break;
        case Stage::Answering:
            break;
        }
    }
    return t;
}

void BusListener::fireTimers(std::int64_t at) {
    // Each step ends the wait that ran out, so the sweep moves on.
    auto due = [&](std::int64_t end, bool controller, bool peripheral) {
        return end <= at && (!controller || quietUntil(Line::Controller, end)) &&
               (!peripheral || quietUntil(Line::Peripheral, end));
    };
    if (zeroWatch_ && due(zero_.us + RESET_QUIET_US, true, true)) endZeroWatch(true);
    if (commandOpen_ && due(ex_.commandLastUs + commandGap(), true, false)) closeCommand();
    if (unitOpen_ && due(unitLastUs_ + unitGap(), false, true)) closeUnit();
    if (exOpen_ && !commandOpen_ && !unitOpen_) {
        const bool over =
            (stage_ == Stage::AwaitAnswer && due(ex_.commandLastUs + ANSWER_WAIT_US, false, true)) ||
            (stage_ == Stage::AwaitReply && due(ex_.answerLastUs + REPLY_WAIT_US, true, false)) ||
            (stage_ == Stage::AwaitRetransmission && due(ex_.replyUs + ANSWER_WAIT_US, false, true));
        if (over) finalize();
    }
}

// --- the controller's line ---------------------------------------------------------------------------------

void BusListener::controllerByte(const Stamped& s) {
    // The controller speaks: whatever the peripherals were sending has ended.
    if (unitOpen_) closeUnit();
    if (zeroWatch_) endZeroWatch(false);
    const bool byMarks = side(Line::Controller).framing == Framing::ModeBit;
    if (s.marked) side(Line::Controller).marksSeen = true;
    if (commandOpen_ && !byMarks && s.us - ex_.commandLastUs > commandGap() &&
        s.notBeforeUs + READ_LATENCY_US >= ex_.commandLastUs + commandGap()) {
        // The reader looked at the line longer than the quiet that ends a command: this byte
        // starts the next one.
        if (!closeCommand()) {
            putBack(Line::Controller, s);
            return;
        }
    }
    if (commandOpen_) {
        // A command goes on until its length; by the marks, an address byte starts the next one.
        if (!(byMarks && !s.marked)) {
            appendCommand(s);
            return;
        }
        if (!closeCommand()) {
            putBack(Line::Controller, s);
            return;
        }
    }
    // A reply carries a mode bit of 0, as every byte from the controller but an address does.
    const bool replyLike = isReplyByte(s.value) && (!byMarks || s.marked);
    if (exOpen_ && stage_ == Stage::AwaitReply && replyLike) {
        takeReply(s);
        return;
    }
    if (s.value == MDB_ACK && (!byMarks || s.marked)) {
        // Not awaited: a stray acknowledge, or the one byte a break reads as.
        zeroWatch_ = true;
        zero_ = s;
        return;
    }
    if (byMarks && s.marked) {
        HeardExchange stray;
        stray.kind = HeardKind::ControllerStray;
        stray.address = lastAddress_;
        stray.command[0] = s.value;
        stray.commandLength = 1;
        stray.commandFirstUs = stray.commandLastUs = s.us;
        release(stray);
        return;
    }
    startCommand(s);
}

void BusListener::startCommand(const Stamped& s) {
    finalize();
    ex_ = HeardExchange{};
    ex_.kind = HeardKind::Exchange;
    ex_.address = addressOf(s.value);
    ex_.command[0] = s.value;
    ex_.commandLength = 1;
    ex_.commandFirstUs = ex_.commandLastUs = s.us;
    exOpen_ = true;
    stage_ = Stage::AwaitAnswer;
    commandOpen_ = true;
    commandPending_ = false;
    commandMarksAgree_ = !s.marked;
    commandBytes_[0] = s;
    checkCommandEnd();
}

void BusListener::appendCommand(const Stamped& s) {
    if (ex_.commandLength >= HEARD_COMMAND_BYTES) {
        // Longer than any command: what came is cut here, the rest starts afresh.
        if (closeCommand())
            startCommand(s);
        else
            putBack(Line::Controller, s);
        return;
    }
    commandBytes_[ex_.commandLength] = s;
    ex_.command[ex_.commandLength++] = s.value;
    ex_.commandLastUs = s.us;
    commandMarksAgree_ = commandMarksAgree_ && s.marked;
    checkCommandEnd();
}

void BusListener::checkCommandEnd() {
    const std::uint8_t* b = ex_.command.data();
    const std::size_t n = ex_.commandLength;
    const CommandLengths lengths = commandLengths(b, n);
    commandPending_ = false;
    if (lengths.needSecond) return;
    const bool sum = checksumHolds(b, n);
    if (lengths.count == 0) {
        // Ends on its checksum when the answer begins or the line goes quiet.
        commandPending_ = sum;
        if (n >= HEARD_COMMAND_BYTES) closeCommand();
        return;
    }
    if (n >= lengths.longest()) {
        closeCommand();
    } else if (lengths.allows(n) && sum) {
        // The shorter form; a level-3 device's longer one would go on at once.
        commandPending_ = true;
    }
}

bool BusListener::commandEndsOnAnswer() const {
    // A command of known length is complete only at that length (its last bytes may be read
    // after the answer's first); one of unknown length, or at a length it may have, ends when the
    // answer begins.
    if (commandPending_) return true;
    const CommandLengths lengths = commandLengths(ex_.command.data(), ex_.commandLength);
    return lengths.count == 0 && !lengths.needSecond;
}

bool BusListener::closeCommand() {
    commandOpen_ = false;
    commandPending_ = false;
    const std::uint8_t* b = ex_.command.data();
    const std::size_t n = ex_.commandLength;
    const CommandLengths lengths = commandLengths(b, n);
    const bool sum = checksumHolds(b, n);
    if (n < 2 || lengths.needSecond || (lengths.count > 0 && !lengths.allows(n)))
        ex_.faults |= HEARD_COMMAND_CUT;
    else if (!sum)
        ex_.faults |= HEARD_COMMAND_CHECKSUM;
    const bool whole = !(ex_.faults & (HEARD_COMMAND_CUT | HEARD_COMMAND_CHECKSUM));
    evidence(Line::Controller, whole && commandMarksAgree_, !commandMarksAgree_);
    if (whole) {
        lastAddress_ = ex_.address;
        return true;
    }
    // By the marks a command starts where its address byte says; without them, one that failed
    // may have begun at any of its bytes. Its first is a stray byte, the rest is framed again.
    if (n < 2 || side(Line::Controller).framing == Framing::ModeBit || (unitOpen_ && unitIsAnswer_))
        return true;
    Side& c = side(Line::Controller);
    for (std::size_t i = n; i-- > 1;)
        c.queue.push_front(commandBytes_[i]);
    putBackAt_ = n - 1;
    HeardExchange stray;
    stray.kind = HeardKind::ControllerStray;
    stray.address = lastAddress_;
    stray.command[0] = b[0];
    stray.commandLength = 1;
    stray.commandFirstUs = stray.commandLastUs = ex_.commandFirstUs;
    exOpen_ = false;
    publish(stray);
    for (HeardExchange& d : deferred_)
        publish(d);
    deferred_.clear();
    return false;
}

void BusListener::putBack(Line line, const Stamped& s) {
    // On the controller's line after the bytes of the command taken apart, which came before it.
    std::deque<Stamped>& q = side(line).queue;
    const std::size_t after = line == Line::Controller ? std::min(putBackAt_, q.size()) : 0;
    q.insert(q.begin() + static_cast<std::ptrdiff_t>(after), s);
}

void BusListener::takeReply(const Stamped& s) {
    const std::size_t n = ex_.answerLength();
    const std::size_t half = n / 2;
    if (s.value == MDB_RET && n >= 4 && n % 2 == 0 && n == ex_.answerReceived &&
        std::equal(ex_.answer.begin(), ex_.answer.begin() + static_cast<std::ptrdiff_t>(half),
                   ex_.answer.begin() + static_cast<std::ptrdiff_t>(half)) &&
        checksumHolds(ex_.answer.data(), half)) {
        // The answer and its retransmission, delivered together before the RET that asked for
        // it: two exchanges, as on the wire (the RET came between them).
        HeardExchange again;
        again.kind = HeardKind::Retransmission;
        again.address = ex_.address;
        again.command = ex_.command;
        again.commandLength = ex_.commandLength;
        again.commandFirstUs = again.commandLastUs = s.us;
        std::copy_n(ex_.answer.begin() + static_cast<std::ptrdiff_t>(half), half, again.answer.begin());
        again.answerReceived = static_cast<std::uint32_t>(half);
        again.answerFirstUs =
            std::max(s.us, ex_.answerLastUs - static_cast<std::int64_t>(half - 1) * MDB_CHAR_US);
        again.answerLastUs = std::max(again.answerFirstUs, ex_.answerLastUs);
        ex_.answerReceived = static_cast<std::uint32_t>(half);
        ex_.answerLastUs =
            std::min(ex_.answerLastUs, ex_.answerFirstUs + static_cast<std::int64_t>(half - 1) * MDB_CHAR_US);
        ex_.reply = s.value;
        ex_.replyUs = s.us;
        finalize();
        ex_ = again;
        exOpen_ = true;
        stage_ = Stage::AwaitReply;
        return;
    }
    ex_.reply = s.value;
    ex_.replyUs = s.us;
    if (s.value == MDB_RET) {
        stage_ = Stage::AwaitRetransmission;
        return;
    }
    finalize();
}

void BusListener::endZeroWatch(bool reset) {
    zeroWatch_ = false;
    HeardExchange h;
    h.address = lastAddress_;
    h.commandFirstUs = h.commandLastUs = zero_.us;
    if (reset) {
        h.kind = HeardKind::BusReset;
        h.faults = HEARD_RESET;
        // Every peripheral starts afresh: nothing it sent before is waiting for an acknowledge.
        for (auto& u : unacked_)
            u.clear();
    } else {
        h.kind = HeardKind::ControllerStray;
        h.command[0] = zero_.value;
        h.commandLength = 1;
    }
    release(h);
}

// --- the peripherals' line ---------------------------------------------------------------------------------

void BusListener::peripheralByte(const Stamped& s) {
    if (zeroWatch_) endZeroWatch(false);
    // Without marks an answer ends the command in hand even short of its length: the
    // peripheral has read a whole command, so this one began later than thought.
    const bool byMarks = side(Line::Controller).framing == Framing::ModeBit;
    if (commandOpen_ && (commandEndsOnAnswer() || !byMarks) && !closeCommand()) {
        // The command failed and is framed again: this byte may answer what is found in it.
        putBack(Line::Peripheral, s);
        return;
    }
    if (s.marked) side(Line::Peripheral).marksSeen = true;
    if (unitOpen_ && unitCount_ >= LONGEST_UNIT) closeUnit();
    if (!unitOpen_) {
        openUnit(s);
    } else {
        if (unitCount_ < unitBytes_.size()) unitBytes_[unitCount_] = s.value;
        ++unitCount_;
        unitLastUs_ = s.us;
        unitEarlierMarked_ = unitEarlierMarked_ && unitLastMarked_;
        unitLastMarked_ = s.marked;
    }
    // By the marks, the byte with a mode bit of 1 is an answer's last.
    if (side(Line::Peripheral).framing == Framing::ModeBit && !s.marked) closeUnit();
}

void BusListener::openUnit(const Stamped& s) {
    unitOpen_ = true;
    unitBytes_[0] = s.value;
    unitCount_ = 1;
    unitFirstUs_ = unitLastUs_ = s.us;
    unitLastMarked_ = s.marked;
    unitEarlierMarked_ = true;
    unitIsAnswer_ = false;
    if (!exOpen_) return;
    if (stage_ == Stage::AwaitAnswer) {
        stage_ = Stage::Answering;
        unitIsAnswer_ = true;
    } else if (stage_ == Stage::AwaitRetransmission) {
        // The answer again, as the controller's RET asked: an exchange of its own.
        const HeardExchange asked = ex_;
        finalize();
        ex_ = HeardExchange{};
        ex_.kind = HeardKind::Retransmission;
        ex_.address = asked.address;
        ex_.command = asked.command;
        ex_.commandLength = asked.commandLength;
        ex_.commandFirstUs = ex_.commandLastUs = asked.replyUs;
        exOpen_ = true;
        stage_ = Stage::Answering;
        unitIsAnswer_ = true;
    }
}

void BusListener::closeUnit() {
    unitOpen_ = false;
    const std::size_t kept = std::min<std::size_t>(unitCount_, unitBytes_.size());
    const bool sum = checksumHolds(unitBytes_.data(), kept);
    // Only the last byte of an answer has a mode bit of 1. A byte with 1 before the last, or a
    // whole answer whose last byte has 0, contradicts the marks; an answer cut off says nothing.
    const bool marksAgree = unitEarlierMarked_ && !unitLastMarked_;
    evidence(Line::Peripheral, marksAgree && unitCount_ >= 2 && sum,
             !unitEarlierMarked_ || (unitLastMarked_ && unitCount_ >= 2 && sum));

    HeardExchange* into = nullptr;
    HeardExchange stray;
    if (unitIsAnswer_) {
        into = &ex_;
    } else {
        stray.kind = HeardKind::PeripheralStray;
        stray.address = lastAddress_;
        into = &stray;
    }
    std::copy_n(unitBytes_.begin(), kept, into->answer.begin());
    into->answerReceived = unitCount_;
    into->answerFirstUs = unitFirstUs_;
    into->answerLastUs = unitLastUs_;
    if (!unitIsAnswer_) {
        release(stray);
        return;
    }
    if (unitCount_ >= 2) {
        stage_ = Stage::AwaitReply;
    } else {
        // A bare ACK or NAK (or a byte without a checksum): no reply follows.
        finalize();
    }
}

void BusListener::evidence(Line line, bool agrees, bool contradicts) {
    Side& s = side(line);
    if (!s.marksSeen || s.framing == Framing::MarksUnreliable) return;
    // A contradiction now and then comes from the order of the lines, not from the marks; a
    // driver that flags per packet contradicts them at every other answer.
    if (contradicts) {
        if (++s.contradicted >= CONTRADICTIONS) s.framing = Framing::MarksUnreliable;
        return;
    }
    if (agrees && ++s.agreed >= 2 && s.framing == Framing::QuietLine) s.framing = Framing::ModeBit;
}

// --- finished exchanges
// --------------------------------------------------------------------------------------

void BusListener::finalize() {
    if (!exOpen_) return;
    if (commandOpen_) closeCommand();
    if (unitOpen_ && unitIsAnswer_) closeUnit(); // calls back here for a one-byte answer
    if (!exOpen_) return;
    exOpen_ = false;
    HeardExchange& h = ex_;
    const std::size_t n = h.answerLength();
    // A RESET that failed its checksum or was cut off resets nothing: no peripheral acts on it.
    if (h.kind == HeardKind::Exchange && isResetCommand(h.command[0]) && !h.has(HEARD_COMMAND_CUT) &&
        !h.has(HEARD_COMMAND_CHECKSUM))
        h.faults |= HEARD_RESET;
    if (h.answerReceived == 0) h.faults |= HEARD_NO_ANSWER;
    if (h.answerDelayUs() > MDB_RESPONSE_LIMIT_US) h.faults |= HEARD_LATE_ANSWER;
    const bool data = h.answerReceived >= 2;
    if (data && !checksumHolds(h.answer.data(), n)) h.faults |= HEARD_ANSWER_CHECKSUM;
    // A lone byte answers only as ACK or NAK; any other is data without its checksum.
    if (h.answerReceived == 1 && h.answer[0] != MDB_ACK && h.answer[0] != MDB_NAK)
        h.faults |= HEARD_ANSWER_CHECKSUM;
    if (data && h.replyUs < 0) h.faults |= HEARD_MISSING_ACK;
    if (h.replyUs >= 0 && h.replyDelayUs() > MDB_RESPONSE_LIMIT_US) h.faults |= HEARD_LATE_ACK;
    if (h.replyUs >= 0 && h.reply == MDB_NAK) h.faults |= HEARD_NAK;
    if (h.replyUs >= 0 && h.reply == MDB_RET) h.faults |= HEARD_RET;
    if (data) {
        // A peripheral whose data was not acknowledged in time sends it again at the next POLL.
        std::vector<std::uint8_t>& last = unacked_[h.address >> 3];
        if (h.kind == HeardKind::Exchange && last.size() == n &&
            std::equal(last.begin(), last.end(), h.answer.begin()))
            h.faults |= HEARD_RESEND;
        const bool acknowledged = h.replyUs >= 0 && h.reply == MDB_ACK && !h.has(HEARD_LATE_ACK);
        if (acknowledged)
            last.clear();
        else
            last.assign(h.answer.begin(), h.answer.begin() + static_cast<std::ptrdiff_t>(n));
    }
    publish(h);
    for (HeardExchange& d : deferred_)
        publish(d);
    deferred_.clear();
}

void BusListener::release(HeardExchange h) {
    // Later than the exchange still open: it follows that exchange.
    if (exOpen_)
        deferred_.push_back(h);
    else
        publish(h);
}

void BusListener::publish(HeardExchange& h) {
    h.wallUs = wallOffsetUs_ + h.firstUs();
    ready_.push_back(h);
}

} // namespace norvex::link
