// SPDX-License-Identifier: GPL-3.0-or-later
#include "TypedFrame.h"

#include "BusDecoder.h"
#include "Format.h"
#include "RequestFrames.h"

#include <vector>

namespace norvex::control {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Bytes of a bill-validator command before its checksum; 0 for one that does not exist.
std::size_t commandLength(const std::vector<std::uint8_t>& b) {
    switch (b[0]) {
    case 0x30:
    case 0x31:
    case 0x33:
    case 0x36:
        return 1;
    case 0x32:
        return 3;
    case 0x34:
        return 5;
    case 0x35:
        return 2;
    case 0x37:
        if (b.size() < 2) return 2;
        switch (b[1]) {
        case 0x00:
            return 2;
        case 0x01:
            return 6;
        case 0xFF:
            return 7;
        default:
            return 0;
        }
    default:
        return 0;
    }
}

} // namespace

bool parseTypedFrame(const std::string& text, TypedFrame& frame, std::string& reason) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < text.size();) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == ',') {
            ++i;
            continue;
        }
        const int high = hexDigit(c);
        const int low = i + 1 < text.size() ? hexDigit(text[i + 1]) : -1;
        if (high < 0 || low < 0) {
            reason = "not a hex byte at \"" + text.substr(i, 2) + "\": write each byte as two hex digits";
            return false;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
        i += 2;
        if (bytes.size() > link::TX_SLOT_SIZE) {
            reason = "longer than any bill-validator frame";
            return false;
        }
    }
    if (bytes.empty()) {
        reason = "no bytes typed";
        return false;
    }
    if (bytes[0] < 0x30 || bytes[0] > 0x37) {
        reason = format("%02X is not a bill-validator command (30 to 37)", unsigned{bytes[0]});
        return false;
    }
    const std::size_t length = commandLength(bytes);
    if (length == 0) {
        // 37 02 exists, but the link does not assemble its answer: unacknowledged, the validator
        // would send it again at the next POLL, where it would read as events.
        reason = bytes[1] == 0x02
                     ? "37 02 is answered with data the link does not take"
                     : format("37 %02X is not a bill-validator EXPANSION command", unsigned{bytes[1]});
        return false;
    }
    if (bytes[0] == 0x37 && bytes.size() >= 7 && bytes[1] == 0xFF) {
        const std::uint8_t f = bytes[6];
        if (f != DIAG_SENSORS && f != DIAG_OPTICS && f != DIAG_VIDEO && f != DIAG_STATISTICS &&
            f != DIAG_ERASE_STATISTICS) {
            reason = format("diagnostics function %02X: the link does not take its answer", unsigned{f});
            return false;
        }
    }
    if (bytes.size() == length) {
        bytes.push_back(frameChecksum(bytes.data(), length));
    } else if (bytes.size() == length + 1) {
        const std::uint8_t sum = frameChecksum(bytes.data(), length);
        if (bytes[length] != sum) {
            reason = format("the checksum should be %02X, not %02X", unsigned{sum}, unsigned{bytes[length]});
            return false;
        }
    } else {
        // Named as the monitor's rows name it, the diagnostics frames without their record.
        const std::string name = bytes[0] == 0x37 && bytes.size() >= 2 && bytes[1] == 0xFF
                                     ? std::string(commandName(0x38))
                                     : commandLabel(bytes.data(), bytes.size());
        reason = format("%s takes %zu byte%s and its checksum, not %zu byte%s", name.c_str(), length,
                        length == 1 ? "" : "s", bytes.size(), bytes.size() == 1 ? "" : "s");
        return false;
    }
    frame = {};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        frame.bytes[i] = bytes[i];
    frame.length = bytes.size();
    return true;
}

} // namespace norvex::control
