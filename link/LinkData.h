// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The state that the main window and the link worker share: the request records, the
// transmit slot, the diagnostic buffer and the traffic buffer. It lives as long as the main
// window; the port record (Connection) comes and goes with the port.
//
// The contract between the two threads is in this type. The request states, the awaited
// kinds' clocks, the slot's length and the response kind are atomics that either side reads
// and writes. The bytes (the reception fields of the records, the last short answer's length,
// the diagnostic buffer, the traffic buffer and the slot's bytes) sit behind one lock that
// only this class takes: the window copies finished answers out and resets through the
// operations below, and the worker assembles through a Reception, which holds the lock for as
// long as it lives.

#include "LinkTypes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>

namespace norvex::link {

using RecordBytes = std::array<std::uint8_t, RECORD_DATA_SIZE>;
using DiagBytes = std::array<std::uint8_t, DIAG_BUFFER_SIZE>;

// The last completed short answer: the REQ_POLL record's bytes and how many of them belong to
// it, its checksum included (1 for a bare ACK or NAK, at most 17).
struct ShortAnswer {
    RecordBytes bytes{};
    std::uint8_t length = 0;
};

class LinkData {
public:
    LinkData() = default;
    LinkData(const LinkData&) = delete;
    LinkData& operator=(const LinkData&) = delete;

    // --- request states and clocks (either thread, no lock) ------------------------------------

    RequestState state(RequestKind k) const { return req_[index(k)].state.load(); }
    void setState(RequestKind k, RequestState s) { req_[index(k)].state.store(s); }
    // Adds to an awaited kind's clock and returns its new reading (the worker restarts it
    // when the kind's frame goes out).
    std::uint32_t addElapsedMs(RequestKind k, std::uint32_t ms) {
        return req_[index(k)].elapsedMs.fetch_add(ms) + ms;
    }

    // --- finished answers (the window; each takes the lock) ------------------------------------
    // Meant for the handling of a completion code, while the worker waits for the window: then
    // the copy is the answer that completed. At other times it is whatever the worker has
    // assembled so far.

    // A copy of a record's bytes.
    RecordBytes recordData(RequestKind k) const;
    // The last completed short answer with its length.
    ShortAnswer shortAnswer() const;
    // A copy of the diagnostic buffer (optics, video test, statistics).
    DiagBytes diagData() const;

    // --- traffic (the window) ------------------------------------------------------------------

    // Empties the traffic buffer.
    void clearTraffic();
    // A copy of the traffic buffer, whole as of one moment, for painting without holding the
    // worker up.
    TrafficBuffer trafficSnapshot() const;
    // Calls fn(const TrafficBuffer&) with the lock held and returns what it returns: for
    // reading the exchange in place while handling its completion. fn must not call back into
    // this object.
    template <typename Fn> decltype(auto) withTraffic(Fn&& fn) const {
        std::lock_guard<std::mutex> guard(lock_);
        return fn(static_cast<const TrafficBuffer&>(traffic_));
    }

    // --- resets (the window) --------------------------------------------------------------------

    // RESET in the menu: the answers of SETUP, POLL and the stacker are forgotten, the sensors'
    // record starts again from its first byte and no short answer is in hand. The worker may
    // be assembling into these records at the time: the rest of that answer is dropped
    // unacknowledged (see Reception::resetSinceFrame).
    void resetReception();

    // --- the worker's side ----------------------------------------------------------------------

    // The raw buffers, with the lock held from construction to destruction: how the worker
    // assembles (ResponseAssembler) and how tests play the worker. One at a time per thread,
    // and none while calling the operations above.
    class Reception {
    public:
        explicit Reception(LinkData& d) : d_(d), guard_(d.lock_) {}
        Reception(const Reception&) = delete;
        Reception& operator=(const Reception&) = delete;

        RequestRecord& record(RequestKind k) { return d_.req_[index(k)]; }
        TrafficBuffer& traffic() { return d_.traffic_; }
        DiagBytes& diag() { return d_.diag_; }
        std::uint16_t& diagCount() { return d_.diagCount_; }
        std::uint8_t& shortAnswerLength() { return d_.shortAnswerLength_; }
        // resetReception() ran since the last frame went out.
        bool& resetSinceFrame() { return d_.resetSinceFrame_; }

    private:
        LinkData& d_;
        std::lock_guard<std::mutex> guard_;
    };
    Reception reception() { return Reception(*this); }

    // --- transmit slot --------------------------------------------------------------------------

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

    std::atomic<std::uint8_t> txLength{0};
    std::atomic<std::uint8_t> responseMode{MODE_IDLE};

    // The worker registers its wake-up descriptor here (an eventfd); -1 when none.
    std::atomic<int> wakeFd{-1};
    // The worker is about to wait, or waits, in poll(): only then does a new frame have to wake it
    // (otherwise it looks at the slot before it waits).
    std::atomic<bool> workerWaiting{true};

private:
    static std::size_t index(RequestKind k) { return static_cast<std::size_t>(k); }

    // Guards everything below but the records' atomics (state, elapsedMs).
    mutable std::mutex lock_;

    std::array<RequestRecord, REQ_COUNT> req_;

    // Bytes of the last completed short answer in the REQ_POLL record, its checksum included: 1
    // for a bare ACK or NAK, at most 17. The status bytes are the ones before the checksum.
    std::uint8_t shortAnswerLength_ = 0;
    bool resetSinceFrame_ = false;

    DiagBytes diag_{};
    std::uint16_t diagCount_ = 0;

    TrafficBuffer traffic_;

    std::array<std::uint8_t, TX_SLOT_SIZE> txBytes_{};
};

} // namespace norvex::link
