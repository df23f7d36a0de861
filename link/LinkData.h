#pragma once
// The state that the main window and the link worker share: the request records, the
// transmit slot, the diagnostic buffer and the traffic buffer. It lives as long as the main
// window; the port record (Connection) comes and goes with the port.

#include "LinkTypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace norvex::link {

class LinkData {
public:
    LinkData() = default;
    LinkData(const LinkData&) = delete;
    LinkData& operator=(const LinkData&) = delete;

    // Guards the slot's bytes, the reception fields of the records, the diagnostic buffer and
    // the traffic buffer. The worker holds it while it assembles; the main window takes it
    // for resets and snapshots outside a notification.
    mutable std::mutex lock;

    std::array<RequestRecord, REQ_COUNT> req;

    // Bytes of the last completed short answer in the REQ_POLL record, its checksum included: 1
    // for a bare ACK or NAK, at most 17. The status bytes are the ones before the checksum.
    std::uint8_t shortAnswerLength = 0;

    std::array<std::uint8_t, DIAG_BUFFER_SIZE> diag{};
    std::uint16_t diagCount = 0;

    TrafficBuffer traffic;

    std::array<std::uint8_t, TX_SLOT_SIZE> txBytes{};
    std::atomic<std::uint8_t> txLength{0};
    std::atomic<std::uint8_t> responseMode{MODE_IDLE};

    RequestRecord& record(RequestKind k) { return req[static_cast<std::size_t>(k)]; }
    const RequestRecord& record(RequestKind k) const { return req[static_cast<std::size_t>(k)]; }
    RequestState state(RequestKind k) const { return record(k).state.load(); }
    void setState(RequestKind k, RequestState s) { record(k).state.store(s); }

    // The slot is free when txLength is 0.
    bool slotBusy() const { return txLength.load() != 0; }

    // Places a frame in the transmit slot when it is free: the bytes first, the length last,
    // then wakes the worker. Returns false (and changes nothing) while the worker still holds
    // the previous frame or the frame does not fit.
    bool submit(const std::uint8_t* frame, std::size_t length);

    // Copies the frame out of the slot (the worker's side; tests use it to play the worker).
    // Returns its length, 0 when the slot is empty. The slot stays busy until release().
    std::size_t take(std::array<std::uint8_t, TX_SLOT_SIZE>& out);
    // Frees the slot after the frame has been transmitted.
    void release() { txLength.store(0); }

    // The worker registers its wake-up descriptor here (an eventfd); -1 when none.
    std::atomic<int> wakeFd{-1};
};

} // namespace norvex::link
