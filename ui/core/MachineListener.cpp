// SPDX-License-Identifier: GPL-3.0-or-later
#include "MachineListener.h"

#include "link/MdbCommands.h"

#include <chrono>

namespace norvex::ui {

using namespace norvex::link;

namespace {

std::int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The command history's code of a validator command; 0 for none (POLL, or no code).
std::uint8_t historyCode(const std::uint8_t* c, std::size_t n) {
    if (c[0] == 0x33) return 0;
    if (c[0] != 0x37) return c[0];
    if (n >= 2 && c[1] == 0x00) return 0x37;
    if (n >= 2 && c[1] == 0xFF) return 0x38;
    return 0;
}

} // namespace

MachineListener::MachineListener(LinkData& data, control::Controller& controller, BusLog& log)
    : controller_(controller), log_(log), assembler_(data) {}

LinkResult MachineListener::open(const std::string& controllerPath, const std::string& peripheralPath,
                                 BusTap::Line& failedLine) {
    startUs_ = monotonicUs();
    takenLate_.clear();
    return tap_.open(controllerPath, peripheralPath, &failedLine);
}

void MachineListener::close() {
    tap_.close();
}

std::uint32_t MachineListener::runClockMs(const HeardExchange& h) const {
    const std::int64_t ms = (h.firstUs() - startUs_) / 1000;
    return ms < 0 ? 0 : static_cast<std::uint32_t>(ms);
}

std::size_t MachineListener::take(const Deliver& deliver, const Heard& heard) {
    fresh_.clear();
    const std::size_t n = tap_.drain(fresh_);
    for (const HeardExchange& h : fresh_) {
        const KeptExchange& kept = log_.addHeard(h);
        follow(h, deliver);
        if (heard) heard(h, kept);
    }
    return n;
}

void MachineListener::follow(const HeardExchange& h, const Deliver& deliver) {
    if (h.address != ADDRESS_BILL_VALIDATOR) return;
    if (h.kind != HeardKind::Exchange && h.kind != HeardKind::Retransmission) return;
    const std::uint8_t* c = h.command.data();
    const std::size_t n = h.commandLength;
    if (n == 0 || h.has(HEARD_COMMAND_CUT) || h.has(HEARD_COMMAND_CHECKSUM)) return;
    controller_.setRunClockMs(runClockMs(h));
    const bool bareAck = h.answerReceived == 1 && h.answer[0] == MDB_ACK;

    // What the machine's controller asked for.
    if (h.kind == HeardKind::Exchange) {
        if (const std::uint8_t code = historyCode(c, n)) controller_.commandHeard(code);
        if (c[0] == 0x34 && n >= 6 && bareAck) {
            const unsigned enable = static_cast<unsigned>(c[1] << 8 | c[2]);
            const unsigned escrow = static_cast<unsigned>(c[3] << 8 | c[4]);
            for (int type = 0; type < 16; ++type) {
                controller_.setBillEnabled(type, (enable >> type) & 1u);
                controller_.setEscrowEnabled(type, (escrow >> type) & 1u);
            }
        }
    }

    // What it read: a data answer it acknowledged.
    const std::size_t length = h.answerLength();
    if (h.answerReceived < 2 || h.has(HEARD_ANSWER_CHECKSUM) || h.replyUs < 0 || h.reply != MDB_ACK) return;
    const std::vector<std::uint8_t> bytes(h.answer.begin(),
                                          h.answer.begin() + static_cast<std::ptrdiff_t>(length));
    if (h.has(HEARD_RESEND) && bytes == takenLate_) {
        // Taken when it came first; a copy acknowledged late comes once more.
        if (!h.has(HEARD_LATE_ACK)) takenLate_.clear();
        return;
    }
    takenLate_ = h.has(HEARD_LATE_ACK) ? bytes : std::vector<std::uint8_t>{};
    assembler_.frameSent(c, n);
    Completion done;
    for (std::size_t i = 0; i < length && !done.complete; ++i)
        done = assembler_.feed(bytes[i]);
    // A short answer ends on its checksum once nothing follows it.
    if (!done.complete) done = assembler_.lineQuiet();
    if (done.complete && done.code != 0) deliver(done.code);
}

} // namespace norvex::ui
