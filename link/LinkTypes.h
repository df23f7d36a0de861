// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Shared vocabulary of the MDB link: request kinds, response kinds, completion codes and the
// buffers that the link worker fills and the main window reads.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace norvex::link {

// Request kinds in the order in which the poll scheduler tries them; REQ_POLL goes last.
enum RequestKind : int {
    REQ_RESET = 0,
    REQ_TYPE_ESCR,
    REQ_SETUP,
    REQ_ESCROW_STACK,
    REQ_ESCROW_RETURN,
    REQ_CASS_INFO,
    REQ_SENSORS,
    REQ_OPTICS,
    REQ_VIDEO,
    REQ_DEVICE_ID,
    REQ_STATISTICS,
    REQ_CLEAR_STATS,
    REQ_POLL,
    REQ_COUNT
};

// Where a request kind stands: nothing outstanding, its frame waiting to be sent, or its answer
// awaited (the frame goes out again when the answer takes too long).
enum class RequestState : std::uint8_t { Idle = 0, Requested = 1, Awaiting = 2 };

// Response kinds (the value of responseMode).
enum ResponseMode : std::uint8_t {
    MODE_SHORT = 0,
    MODE_SETUP = 1,
    MODE_STACKER = 2,
    MODE_SENSORS = 3,
    MODE_IDENT = 4,
    MODE_OPTICS = 5,
    MODE_VIDEO = 6,
    MODE_STATS = 7,
    MODE_IDLE = 8
};

// How the link finds the end of a short answer on the open port.
enum class Framing : std::uint8_t {
    // By its checksum, confirmed by the line staying quiet: the port gives no mode bits (a
    // pseudo-terminal, a driver without error reports) or has not shown them to agree yet.
    QuietLine,
    // By the mode bit: the port marks every byte but the last of an answer, and its marks have
    // agreed with the checksums.
    ModeBit,
    // By the checksum and a quiet line again, for as long as the port stays open: its marks
    // contradicted the checksums (a driver that flags errors per USB packet, not per byte).
    MarksUnreliable,
};

// Completion codes that the worker hands to the main window.
enum CompletionCode : std::uint8_t {
    RESP_POLL = 68,
    RESP_SETUP = 69,
    RESP_STACKER = 70,
    RESP_SENSORS = 71,
    RESP_IDENT = 72,
    RESP_OPTICS = 73,
    RESP_VIDEO = 80,
    RESP_STATS = 81
};

// Answer lengths of the fixed-length kinds, the checksum byte included.
inline constexpr std::size_t SETUP_LENGTH = 28;
inline constexpr std::size_t STACKER_LENGTH = 3;
inline constexpr std::size_t SENSORS_LENGTH = 28;
inline constexpr std::size_t IDENT_LENGTH = 30;
inline constexpr std::size_t OPTICS_LENGTH = 337;
inline constexpr std::size_t VIDEO_LENGTH = 281;
inline constexpr std::size_t STATS_LENGTH = 73;

inline constexpr std::size_t RECORD_DATA_SIZE = 64;
inline constexpr std::size_t DIAG_BUFFER_SIZE = 340;
inline constexpr std::size_t TRAFFIC_SIZE = 512;
inline constexpr std::uint16_t TRAFFIC_EMPTY = 0xFFFF;
inline constexpr std::size_t TX_SLOT_SIZE = 16;

// One record per request kind. `state` and `elapsedMs` are touched by both threads; the
// reception fields (`count`, `sum`, `data`) belong to LinkData's lock: the worker writes them
// through a LinkData::Reception and the main window copies them out.
struct RequestRecord {
    std::atomic<std::uint32_t> elapsedMs{0};
    std::uint32_t count = 0;
    std::uint16_t sum = 0;
    std::array<std::uint8_t, RECORD_DATA_SIZE> data{};
    std::atomic<RequestState> state{RequestState::Idle};
};

// Bytes of the current exchange, by position: what was sent above, what was received below.
struct TrafficBuffer {
    std::array<std::uint16_t, TRAFFIC_SIZE> sent;
    std::array<std::uint16_t, TRAFFIC_SIZE> received;
    std::uint16_t pos = 0;

    TrafficBuffer() { clear(); }
    void clear() {
        sent.fill(TRAFFIC_EMPTY);
        received.fill(TRAFFIC_EMPTY);
        pos = 0;
    }
};

} // namespace norvex::link
