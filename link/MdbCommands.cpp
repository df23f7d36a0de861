// SPDX-License-Identifier: GPL-3.0-or-later
#include "MdbCommands.h"

namespace norvex::link {

namespace {

CommandLengths one(std::uint8_t length) {
    CommandLengths l;
    l.lengths = {length, 0};
    l.count = 1;
    return l;
}

CommandLengths two(std::uint8_t shorter, std::uint8_t longer) {
    CommandLengths l;
    l.lengths = {shorter, longer};
    l.count = 2;
    return l;
}

CommandLengths unknown() {
    return {};
}

CommandLengths second() {
    CommandLengths l;
    l.needSecond = true;
    return l;
}

CommandLengths coinChanger(const std::uint8_t* b, std::size_t n) {
    switch (b[0] & 0x07) {
    case 0: // RESET
    case 1: // SETUP
    case 2: // TUBE STATUS
    case 3: // POLL
        return one(2);
    case 4: // COIN TYPE: enables and manual dispense enables
        return one(6);
    case 5: // DISPENSE
        return one(3);
    case 7: // EXPANSION
        if (n < 2) return second();
        switch (b[1]) {
        case 0x00: // identification
            return one(3);
        case 0x01: // feature enable
            return one(7);
        case 0x02: // alternative payout
            return one(4);
        case 0x03: // payout status
        case 0x04: // payout value poll
        case 0x05: // diagnostic status
        case 0x06: // manual fill report
        case 0x07: // manual payout report
            return one(3);
        default:
            return unknown();
        }
    default:
        return unknown();
    }
}

CommandLengths cashless(const std::uint8_t* b, std::size_t n) {
    const int command = b[0] & 0x07;
    if (command == 0 || command == 2) return one(2); // RESET, POLL
    if (command == 6) return unknown();
    if (n < 2) return second();
    const std::uint8_t sub = b[1];
    switch (command) {
    case 1: // SETUP: configuration data; prices (longer with expanded currency)
        if (sub == 0x00) return one(7);
        if (sub == 0x01) return two(7, 13);
        return unknown();
    case 3: // VEND
        switch (sub) {
        case 0x00: // request
        case 0x05: // cash sale
        case 0x06: // negative vend request
            return two(7, 9);
        case 0x02: // success
            return one(5);
        case 0x01: // cancel
        case 0x03: // failure
        case 0x04: // session complete
            return one(3);
        default:
            return unknown();
        }
    case 4: // READER: disable, enable, cancel, data entry response
        if (sub <= 0x02) return one(3);
        if (sub == 0x03) return one(11);
        return unknown();
    case 5: // REVALUE: request, limit request
        if (sub == 0x00) return two(5, 7);
        if (sub == 0x01) return one(3);
        return unknown();
    case 7: // EXPANSION: identification, time and date, optional features
        if (sub == 0x00) return one(32);
        if (sub == 0x03) return one(13);
        if (sub == 0x04) return one(7);
        return unknown();
    default:
        return unknown();
    }
}

CommandLengths billValidator(const std::uint8_t* b, std::size_t n) {
    switch (b[0] & 0x07) {
    case 0: // RESET
    case 1: // SETUP
    case 3: // POLL
    case 6: // STACKER
        return one(2);
    case 2: // SECURITY
        return one(4);
    case 4: // BILL TYPE
        return one(6);
    case 5: // ESCROW
        return one(3);
    default: // EXPANSION
        if (n < 2) return second();
        if (b[1] == 0x00 || b[1] == 0x02) return one(3); // identification, with options
        if (b[1] == 0x01) return one(7);                 // feature enable
        return unknown();
    }
}

} // namespace

CommandLengths commandLengths(const std::uint8_t* bytes, std::size_t n) {
    if (n == 0) return unknown();
    switch (addressOf(bytes[0])) {
    case ADDRESS_COIN_CHANGER:
        return coinChanger(bytes, n);
    case ADDRESS_CASHLESS_1:
    case ADDRESS_CASHLESS_2:
        return cashless(bytes, n);
    case ADDRESS_BILL_VALIDATOR:
        return billValidator(bytes, n);
    default:
        return unknown();
    }
}

bool checksumHolds(const std::uint8_t* bytes, std::size_t n) {
    if (n < 2) return false;
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < n; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum) == bytes[n - 1];
}

} // namespace norvex::link
