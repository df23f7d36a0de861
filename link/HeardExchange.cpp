// SPDX-License-Identifier: GPL-3.0-or-later
#include "HeardExchange.h"

#include "BusCapture.h"

#include <algorithm>

namespace norvex::link {

std::int64_t HeardExchange::firstUs() const {
    for (const std::int64_t t : {commandFirstUs, answerFirstUs, replyUs})
        if (t >= 0) return t;
    return 0;
}

std::int64_t HeardExchange::answerDelayUs() const {
    if (answerFirstUs < 0 || commandLastUs < 0) return -1;
    // The stamps are the ends of the bytes: the answer's first byte began one character earlier.
    return answerFirstUs - MDB_CHAR_US - commandLastUs;
}

std::int64_t HeardExchange::replyDelayUs() const {
    if (replyUs < 0 || answerLastUs < 0) return -1;
    return replyUs - MDB_CHAR_US - answerLastUs;
}

const char* heardKindName(HeardKind kind) {
    switch (kind) {
    case HeardKind::Exchange:
        return "exchange";
    case HeardKind::Retransmission:
        return "retransmission";
    case HeardKind::PeripheralStray:
        return "stray bytes from the peripherals";
    case HeardKind::ControllerStray:
        return "stray byte from the controller";
    case HeardKind::BusReset:
        return "bus reset";
    }
    return "?";
}

void appendHeardPackets(const HeardExchange& h, std::int64_t& lastWallUs, std::vector<std::uint8_t>& out) {
    auto at = [&](std::int64_t monoUs) {
        lastWallUs = std::max(lastWallUs, h.wallAt(monoUs));
        return lastWallUs;
    };
    switch (h.kind) {
    case HeardKind::BusReset: {
        // With the one 00 the held line read as: a bus reset packet of two bytes is too short for
        // Wireshark's MDB dissector, which wants at least three.
        const std::uint8_t lineLow = 0x00;
        BusCapture::appendPacket(at(h.commandFirstUs), MDB_EVENT_BUS_RESET, &lineLow, 1, out);
        return;
    }
    case HeardKind::ControllerStray:
        BusCapture::appendPacket(at(h.commandFirstUs), MDB_EVENT_TO_PERIPHERAL, h.command.data(),
                                 h.commandLength, out);
        return;
    case HeardKind::Exchange:
        if (h.commandLength > 0)
            BusCapture::appendPacket(at(h.commandFirstUs), MDB_EVENT_TO_PERIPHERAL, h.command.data(),
                                     h.commandLength, out);
        break;
    case HeardKind::Retransmission:
    case HeardKind::PeripheralStray:
        break;
    }
    if (h.answerLength() > 0)
        BusCapture::appendPacket(at(h.answerFirstUs), MDB_EVENT_FROM_PERIPHERAL, h.answer.data(),
                                 h.answerLength(), out, h.address);
    if (h.replyUs >= 0) BusCapture::appendPacket(at(h.replyUs), MDB_EVENT_TO_PERIPHERAL, &h.reply, 1, out);
}

} // namespace norvex::link
