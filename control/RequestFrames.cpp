// SPDX-License-Identifier: GPL-3.0-or-later
#include "RequestFrames.h"

#include <initializer_list>

namespace norvex::control {

using namespace link;

namespace {

// Awaited answers are repeated when no answer has come after timeoutMs of poll periods.
// SETUP and the identification are standard answers (30 and 33 bytes with the request, 35 and
// 38 ms on the bus); a validator starts them within 5 ms, and since the count advances in whole
// periods and must exceed 60, the shortest real wait is 80 ms. The manufacturer's records get
// their bus time plus 100 ms for the validator's own work, rounded up to 10 ms: sensors
// 36 bytes 41 ms, optics 345 bytes 395 ms, video test 289 bytes 331 ms, statistics 81 bytes
// 93 ms.
constexpr RequestInfo INFO[REQ_COUNT] = {
    /* REQ_RESET         */ {RequestState::Idle, MODE_SHORT, RESP_POLL, 0x30, 0, 0},
    /* REQ_TYPE_ESCR     */ {RequestState::Idle, MODE_SHORT, RESP_POLL, 0x34, 0, 0},
    /* REQ_SETUP         */ {RequestState::Awaiting, MODE_SETUP, RESP_SETUP, 0x31, SETUP_LENGTH, 60},
    /* REQ_ESCROW_STACK  */ {RequestState::Idle, MODE_SHORT, RESP_POLL, 0x35, 0, 0},
    /* REQ_ESCROW_RETURN */ {RequestState::Idle, MODE_SHORT, RESP_POLL, 0x35, 0, 0},
    // STACKER is sent once: its 3-byte answer is complete long before the next tick.
    /* REQ_CASS_INFO     */ {RequestState::Idle, MODE_STACKER, RESP_STACKER, 0x36, STACKER_LENGTH, 0},
    /* REQ_SENSORS       */ {RequestState::Awaiting, MODE_SENSORS, RESP_SENSORS, 0x38, SENSORS_LENGTH, 150},
    /* REQ_OPTICS        */ {RequestState::Awaiting, MODE_OPTICS, RESP_OPTICS, 0x38, OPTICS_LENGTH, 500},
    /* REQ_VIDEO         */ {RequestState::Awaiting, MODE_VIDEO, RESP_VIDEO, 0x38, VIDEO_LENGTH, 440},
    /* REQ_DEVICE_ID     */ {RequestState::Awaiting, MODE_IDENT, RESP_IDENT, 0x37, IDENT_LENGTH, 60},
    /* REQ_STATISTICS    */ {RequestState::Awaiting, MODE_STATS, RESP_STATS, 0x38, STATS_LENGTH, 200},
    /* REQ_CLEAR_STATS   */ {RequestState::Idle, MODE_SHORT, RESP_POLL, 0x38, 0, 0},
    // POLL leaves its state alone: the link sets it back to idle with the next short answer.
    /* REQ_POLL          */ {std::nullopt, MODE_SHORT, RESP_POLL, 0, 0, 0},
};

RequestFrame make(std::initializer_list<std::uint8_t> bytes) {
    RequestFrame f;
    for (std::uint8_t b : bytes)
        f.bytes[f.length++] = b;
    f.bytes[f.length] = frameChecksum(f.bytes.data(), f.length);
    ++f.length;
    return f;
}

RequestFrame diagnostics(std::uint8_t function) {
    return make({0x37, 0xFF, 'V', 'N', 'T', 0x00, function});
}

} // namespace

std::uint8_t frameChecksum(const std::uint8_t* bytes, std::size_t length) {
    unsigned sum = 0;
    for (std::size_t i = 0; i < length; ++i)
        sum += bytes[i];
    return static_cast<std::uint8_t>(sum & 0xFF);
}

RequestFrame requestFrame(RequestKind kind, std::uint32_t billMask) {
    switch (kind) {
    case REQ_RESET:
        return make({0x30});
    case REQ_TYPE_ESCR:
        return make({0x34, static_cast<std::uint8_t>(billMask >> 24),
                     static_cast<std::uint8_t>(billMask >> 16), static_cast<std::uint8_t>(billMask >> 8),
                     static_cast<std::uint8_t>(billMask)});
    case REQ_SETUP:
        return make({0x31});
    case REQ_ESCROW_STACK:
        return make({0x35, 0x01});
    case REQ_ESCROW_RETURN:
        return make({0x35, 0x00});
    case REQ_CASS_INFO:
        return make({0x36});
    case REQ_SENSORS:
        return diagnostics(DIAG_SENSORS);
    case REQ_OPTICS:
        return diagnostics(DIAG_OPTICS);
    case REQ_VIDEO:
        return diagnostics(DIAG_VIDEO);
    case REQ_DEVICE_ID:
        return make({0x37, 0x00});
    case REQ_STATISTICS:
        return diagnostics(DIAG_STATISTICS);
    case REQ_CLEAR_STATS:
        return diagnostics(DIAG_ERASE_STATISTICS);
    case REQ_POLL:
    case REQ_COUNT:
        break;
    }
    return make({0x33});
}

const RequestInfo& requestInfo(RequestKind kind) {
    if (kind < 0 || kind >= REQ_COUNT) return INFO[REQ_POLL];
    return INFO[kind];
}

std::string_view commandName(std::uint8_t code) {
    switch (code) {
    case 0x30:
        return "RESET validator";
    case 0x31:
        return "SETUP request";
    case 0x32:
        return "SECURITY set";
    case 0x33:
        return "STATUS request";
    case 0x34:
        return "TYPE_ESCR enable";
    case 0x35:
        return "ESCROW release";
    case 0x36:
        return "CASS_INFO request";
    case 0x37:
        return "DEVICE_ID request";
    case 0x38:
        return "DIAGNOSTICS req.";
    default:
        return {};
    }
}

} // namespace norvex::control
