// SPDX-License-Identifier: GPL-3.0-or-later
#include "HeardDecoder.h"

#include "Format.h"
#include "link/MdbCommands.h"

namespace norvex::control {

using namespace link;

namespace {

std::string millis(std::int64_t us) {
    if (us < 0) us = 0; // two adapters' read times may put it a little below zero
    return format("%lld.%03lld ms", static_cast<long long>(us / 1000), static_cast<long long>(us % 1000));
}

std::string text(const std::uint8_t* b, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(b[i] >= 0x20 && b[i] < 0x7F ? static_cast<char>(b[i]) : '?');
    return s;
}

bool isCashless(std::uint8_t address) {
    return address == ADDRESS_CASHLESS_1 || address == ADDRESS_CASHLESS_2;
}

const char* changerCommand(const std::uint8_t* c, std::size_t n) {
    switch (c[0] & 0x07) {
    case 0:
        return "RESET";
    case 1:
        return "SETUP";
    case 2:
        return "TUBE STATUS";
    case 3:
        return "POLL";
    case 4:
        return "COIN TYPE";
    case 5:
        return "DISPENSE";
    case 7:
        if (n < 2) return "EXPANSION";
        switch (c[1]) {
        case 0x00:
            return "EXPANSION identification";
        case 0x01:
            return "EXPANSION feature enable";
        case 0x02:
            return "EXPANSION payout";
        case 0x03:
            return "EXPANSION payout status";
        case 0x04:
            return "EXPANSION payout value poll";
        case 0x05:
            return "EXPANSION diagnostic status";
        case 0x06:
            return "EXPANSION manual fill report";
        case 0x07:
            return "EXPANSION manual payout report";
        case 0xFF:
            return "EXPANSION diagnostics";
        default:
            return c[1] >= 0xFA ? "EXPANSION file transfer" : nullptr;
        }
    default:
        return nullptr;
    }
}

const char* cashlessCommand(const std::uint8_t* c, std::size_t n) {
    const int command = c[0] & 0x07;
    if (command == 0) return "RESET";
    if (command == 2) return "POLL";
    if (n < 2) return nullptr;
    static const char* const SETUP[] = {"SETUP configuration", "SETUP price range"};
    static const char* const VEND[] = {"VEND request",         "VEND cancel",      "VEND success",
                                       "VEND failure",         "SESSION complete", "CASH SALE",
                                       "NEGATIVE VEND request"};
    static const char* const READER[] = {"READER disable", "READER enable", "READER cancel",
                                         "DATA ENTRY response"};
    static const char* const REVALUE[] = {"REVALUE request", "REVALUE limit request"};
    const std::uint8_t sub = c[1];
    switch (command) {
    case 1:
        return sub < 2 ? SETUP[sub] : nullptr;
    case 3:
        return sub < 7 ? VEND[sub] : nullptr;
    case 4:
        return sub < 4 ? READER[sub] : nullptr;
    case 5:
        return sub < 2 ? REVALUE[sub] : nullptr;
    case 7:
        if (sub == 0x00) return "EXPANSION identification";
        if (sub == 0x03) return "EXPANSION time and date";
        if (sub == 0x04) return "EXPANSION optional features";
        if (sub == 0xFF) return "EXPANSION diagnostics";
        return sub >= 0xFA ? "EXPANSION file transfer" : nullptr;
    default:
        return nullptr;
    }
}

// Coin types whose bit is set in a 16-bit mask.
std::string typeList(unsigned mask) {
    std::string s;
    for (int i = 0; i < 16; ++i) {
        if (!(mask & (1u << i))) continue;
        if (!s.empty()) s += ' ';
        s += std::to_string(i);
    }
    return s.empty() ? "none" : s;
}

std::string changerPoll(const std::uint8_t* a, std::size_t n) {
    static const char* const STATUS[] = {nullptr,
                                         "escrow request",
                                         "payout busy",
                                         "no credit",
                                         "defective tube sensor",
                                         "double arrival",
                                         "acceptor unplugged",
                                         "tube jam",
                                         "ROM checksum error",
                                         "coin routing error",
                                         "changer busy",
                                         "changer was reset",
                                         "coin jam",
                                         "possible credited coin removal"};
    static const char* const ROUTE[] = {"to the cash box", "to the tubes", "not used", "rejected"};
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = a[i];
        std::string event;
        if ((b & 0x80) && i + 1 < n) {
            event = format("%u coin(s) of type %u paid out by hand, %u in the tube", (b >> 4) & 7u, b & 15u,
                           unsigned{a[i + 1]});
            ++i;
        } else if ((b & 0xC0) == 0x40 && i + 1 < n) {
            event = format("coin of type %u %s, %u in the tube", b & 15u, ROUTE[(b >> 4) & 3],
                           unsigned{a[i + 1]});
            ++i;
        } else if ((b & 0xE0) == 0x20) {
            event = format("%u slug(s)", b & 31u);
        } else if (b >= 1 && b <= 13) {
            event = STATUS[b];
        } else {
            event = format("status %02X", unsigned{b});
        }
        if (!s.empty()) s += "; ";
        s += event;
    }
    return s;
}

std::string cashlessPoll(const std::uint8_t* a, std::size_t n) {
    static const char* const NAMES[] = {"just reset",
                                        "reader configuration",
                                        "display request",
                                        "begin session",
                                        "session cancel request",
                                        "vend approved",
                                        "vend denied",
                                        "end session",
                                        "cancelled",
                                        "peripheral identification",
                                        "malfunction",
                                        "command out of sequence",
                                        nullptr,
                                        "revalue approved",
                                        "revalue denied",
                                        "revalue limit amount",
                                        "user file data",
                                        "time and date request",
                                        "data entry request",
                                        "data entry cancel"};
    if (n == 0) return {};
    const std::uint8_t b = a[0];
    if (b < sizeof NAMES / sizeof NAMES[0] && NAMES[b]) return NAMES[b];
    return format("response %02X", unsigned{b});
}

std::string identification(const std::uint8_t* a, std::size_t n) {
    if (n < 29) return {};
    return format("maker %s, serial %s, model %s, software %02X%02X", text(a, 3).c_str(),
                  text(a + 3, 12).c_str(), text(a + 15, 12).c_str(), unsigned{a[27]}, unsigned{a[28]});
}

} // namespace

std::string deviceName(std::uint8_t address) {
    switch (addressOf(address)) {
    case ADDRESS_COIN_CHANGER:
        return "coin changer";
    case ADDRESS_CASHLESS_1:
        return "cashless 1";
    case ADDRESS_GATEWAY:
        return "communications gateway";
    case 0x20:
        return "display";
    case 0x28:
        return "energy management";
    case ADDRESS_BILL_VALIDATOR:
        return "bill validator";
    case 0x40:
        return "universal satellite device 1";
    case 0x48:
        return "universal satellite device 2";
    case 0x50:
        return "universal satellite device 3";
    case 0x58:
        return "coin hopper 1";
    case ADDRESS_CASHLESS_2:
        return "cashless 2";
    case 0x68:
        return "age verification";
    case 0x70:
        return "coin hopper 2";
    default:
        return format("device %02Xh", unsigned{addressOf(address)});
    }
}

std::string heardCommandLabel(const std::uint8_t* c, std::size_t n) {
    if (n == 0) return {};
    const std::uint8_t address = addressOf(c[0]);
    const char* name = nullptr;
    if (address == ADDRESS_BILL_VALIDATOR) return commandLabel(c, n);
    if (address == ADDRESS_COIN_CHANGER) name = changerCommand(c, n);
    if (isCashless(address)) name = cashlessCommand(c, n);
    if (!name && isResetCommand(c[0])) name = "RESET";
    return name ? std::string(name) : format("command %u", c[0] & 7u);
}

std::string heardCommandMeaning(const std::uint8_t* c, std::size_t n) {
    if (n == 0) return {};
    const std::uint8_t address = addressOf(c[0]);
    if (address == ADDRESS_BILL_VALIDATOR) return frameMeaning(c, n);
    if (address == ADDRESS_COIN_CHANGER && (c[0] & 7) == 4 && n >= 5)
        return format("accepted: %s; paid out by hand: %s",
                      typeList(static_cast<unsigned>(c[1] << 8 | c[2])).c_str(),
                      typeList(static_cast<unsigned>(c[3] << 8 | c[4])).c_str());
    if (address == ADDRESS_COIN_CHANGER && (c[0] & 7) == 5 && n >= 2)
        return format("%u coin(s) of type %u", (c[1] >> 4) & 15u, c[1] & 15u);
    if (isCashless(address) && (c[0] & 7) == 3 && n >= 6 && (c[1] == 0x00 || c[1] == 0x05 || c[1] == 0x06))
        return format("price %u, item %u", static_cast<unsigned>(c[2] << 8 | c[3]),
                      static_cast<unsigned>(c[4] << 8 | c[5]));
    return {};
}

std::string heardAnswerMeaning(const std::uint8_t* c, std::size_t cn, const std::uint8_t* a, std::size_t n,
                               BusSetup& setup) {
    if (n == 0) return {};
    const std::uint8_t address = cn > 0 ? addressOf(c[0]) : 0;
    if (address == ADDRESS_BILL_VALIDATOR) return answerMeaning(c, cn, a, n, setup);
    if (n == 1) {
        if (a[0] == MDB_ACK) return "ACK";
        if (a[0] == MDB_NAK) return "NAK (command refused)";
        return "one byte, no checksum";
    }
    const std::size_t data = n - 1;
    const int command = cn > 0 ? c[0] & 7 : -1;
    if (address == ADDRESS_COIN_CHANGER) {
        if (command == 3) return changerPoll(a, data);
        if (command == 1 && data >= 7)
            return format("level %u, country %04X, scaling %u, decimals %u", unsigned{a[0]},
                          static_cast<unsigned>(a[1] << 8 | a[2]), unsigned{a[3]}, unsigned{a[4]});
        if (command == 2 && data >= 2)
            return format("full tubes: %s", typeList(static_cast<unsigned>(a[0] << 8 | a[1])).c_str());
        if (command == 7 && cn >= 2 && c[1] == 0x00) return identification(a, data);
    }
    if (isCashless(address)) {
        if (command == 2) return cashlessPoll(a, data);
        if (command == 7 && cn >= 2 && c[1] == 0x00 && data >= 30) return identification(a + 1, data - 1);
    }
    return {};
}

std::string heardNote(const HeardExchange& h) {
    std::string note;
    auto add = [&](const std::string& part) {
        if (!note.empty()) note += "; ";
        note += part;
    };
    switch (h.kind) {
    case HeardKind::BusReset:
        return "bus reset: the controller held its line low";
    case HeardKind::ControllerStray:
        return "stray byte from the controller";
    case HeardKind::PeripheralStray:
        return "stray bytes: they answer no command";
    case HeardKind::Retransmission:
        add("sent again as RET asked");
        break;
    case HeardKind::Exchange:
        break;
    }
    if (h.has(HEARD_COMMAND_CUT)) add("command cut off");
    if (h.has(HEARD_COMMAND_CHECKSUM)) add("command checksum bad");
    if (h.has(HEARD_NO_ANSWER)) add("no answer");
    if (h.has(HEARD_LATE_ANSWER)) add("late answer: " + millis(h.answerDelayUs()) + " after the command");
    if (h.has(HEARD_ANSWER_CHECKSUM)) add("answer checksum bad");
    if (h.has(HEARD_RESEND)) add("resend of the unacknowledged answer");
    if (h.replyUs >= 0) {
        const std::string after = millis(h.replyDelayUs()) + " after the last byte";
        if (h.reply == MDB_ACK)
            add((h.has(HEARD_LATE_ACK) ? "late ACK " : "ACK ") + after);
        else if (h.reply == MDB_NAK)
            add("NAK from the controller " + after);
        else
            add("RET: the controller asked for it again, " + after);
    } else if (h.has(HEARD_MISSING_ACK)) {
        add("no ACK");
    }
    if (h.has(HEARD_RESET)) add("reset");
    return note;
}

} // namespace norvex::control
