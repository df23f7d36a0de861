// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Every exchange on the bus with its times, for the bus monitor and the capture files. The link
// worker stamps when a frame left, when the first and the last byte of its answer arrived, when
// the acknowledge went out and what ended the exchange; the window (or the batch loop) takes the
// finished records at its own pace.
//
// The worker side neither allocates nor locks: it builds the exchange in place and publishes it
// into a fixed ring of records. The ring keeps the newest records: when the reader falls more
// than a ring behind, the oldest ones are overwritten and counted as lost. Each slot carries a
// sequence number, written before and after its contents, so the reader can tell a record that
// was overwritten while it copied it; the contents are copied as atomic words, so the two
// threads never touch the same memory without an atomic.

#include "LinkTypes.h"
#include "MarkedInput.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace norvex::link {

// What ended an exchange.
enum class ExchangeEnd : std::uint8_t {
    AckSent,       // a data answer completed and the controller acknowledged it
    Nak,           // the validator refused the frame: a bare FF
    BareAck,       // the validator acknowledged with a bare 00
    Silence,       // nothing came before the next frame (or before the link closed)
    Purged,        // an answer began but was not complete when the next frame purged it
    Stray,         // bytes that belong to no exchange: after a completed answer, or before any frame
    ChecksumFault, // a record arrived whole but its checksum does not fit: not acknowledged
};

const char* exchangeEndName(ExchangeEnd end);

// The longest answer the link assembles (the 337-byte optics record) with room to spare; bytes
// beyond it are counted, not kept.
inline constexpr std::size_t EXCHANGE_BYTES = 344;

struct ExchangeRecord {
    std::uint64_t number = 0;   // 1, 2, ... in the order the link finished them
    std::int64_t sentUs = -1;   // monotonic clock, µs: the frame had left (-1: stray bytes)
    std::int64_t wallUs = 0;    // wall clock, µs since 1970, at sentUs (stray: at the first byte)
    std::int64_t firstUs = -1;  // monotonic: the first byte of the answer arrived (-1: none)
    std::int64_t lastUs = -1;   // monotonic: the last byte of the answer arrived
    std::int64_t ackUs = -1;    // monotonic: the acknowledge had left (-1: none sent)
    std::uint32_t received = 0; // bytes of the answer, also those beyond EXCHANGE_BYTES
    std::uint8_t frameLength = 0;
    std::uint8_t completion = 0; // RESP_* code of a completed answer, 0 otherwise
    ExchangeEnd end = ExchangeEnd::Silence;
    bool repeat = false; // the answer repeats the previous answer that was not acknowledged
    // The validator sent again an answer that was handed on already (the acknowledge may have
    // reached it too late): acknowledged again, and no event was given for it.
    bool resend = false;
    // Bytes that came in the same read as the answer's last byte follow as stray bytes: they
    // were on the line before the acknowledge left.
    bool strayBeforeAck = false;
    std::array<std::uint8_t, TX_SLOT_SIZE> frame{};
    std::array<std::uint8_t, EXCHANGE_BYTES> answer{};

    std::size_t answerLength() const { return received < EXCHANGE_BYTES ? received : EXCHANGE_BYTES; }
    // Wall-clock time of a monotonic stamp of this record.
    std::int64_t wallAt(std::int64_t monoUs) const {
        return wallUs + (monoUs - (sentUs >= 0 ? sentUs : firstUs));
    }
};

class ExchangeRecorder {
public:
    using Clock = std::chrono::steady_clock;

    // capacity: records kept for the reader, rounded up to a power of two (at least 2).
    explicit ExchangeRecorder(std::size_t capacity = 1024);
    ExchangeRecorder(const ExchangeRecorder&) = delete;
    ExchangeRecorder& operator=(const ExchangeRecorder&) = delete;

    static std::int64_t micros(Clock::time_point t) {
        return std::chrono::duration_cast<std::chrono::microseconds>(t.time_since_epoch()).count();
    }

    // --- the link worker's side (one thread at a time) -----------------------------------------
    // A frame has left: the exchange before it ends (silence or purged) and a new one begins.
    void frameSent(const std::uint8_t* frame, std::size_t length, Clock::time_point when);
    // Bytes of one read: the first `used` went into the answer, the rest were dropped after the
    // answer completed (they become stray bytes once the completion is recorded).
    void received(const std::uint8_t* bytes, std::size_t count, std::size_t used, Clock::time_point when);
    // The same for the worker's decoded bytes (at most 256 of them, a read's worth).
    void received(const LineByte* bytes, std::size_t count, std::size_t used, Clock::time_point when);
    // The answer completed with the completion code; `ackAt` is when the acknowledge had left, or
    // nothing when none was sent. `resend`: the validator's resend of an answer handed on already.
    void answerCompleted(std::uint8_t code, bool acknowledged, Clock::time_point ackAt, bool resend = false);
    // A record arrived whole with a checksum that does not fit; it is not acknowledged.
    void answerFaulty();
    // The worker ends: whatever is open is finished.
    void linkClosed();

    // --- the reader's side (one thread) ----------------------------------------------------------
    // Appends the records finished since the last call, oldest first, and returns how many.
    std::size_t drain(std::vector<ExchangeRecord>& out);
    // Records overwritten before the reader took them.
    std::uint64_t lost() const { return lost_; }
    std::size_t capacity() const { return mask_ + 1; }

private:
    static constexpr std::size_t WORDS = (sizeof(ExchangeRecord) + 7) / 8;
    struct Slot {
        std::atomic<std::uint64_t> sequence{0}; // the record's number; 0 while being written
        std::array<std::atomic<std::uint64_t>, WORDS> words;
    };

    void publish();
    // Publishes the answer and, as stray bytes, what came after it in the same read.
    void publishWithDropped();
    void openStray(std::int64_t firstUs);
    void append(const std::uint8_t* bytes, std::size_t count, std::int64_t whenUs);

    std::unique_ptr<Slot[]> slots_;
    std::size_t mask_;
    std::atomic<std::uint64_t> published_{0};

    // Worker side.
    ExchangeRecord open_;
    bool isOpen_ = false;
    std::uint64_t produced_ = 0;
    // Wall-clock time less the link's clock, taken once: every time stamp of a recording is the
    // link's own time moved by the same amount, so packets keep the order their bytes had.
    std::int64_t wallOffsetUs_ = 0;
    std::array<std::uint8_t, 256> line_{};
    std::array<std::uint8_t, 256> dropped_{};
    std::size_t droppedCount_ = 0;
    std::int64_t droppedUs_ = -1;
    std::array<std::uint8_t, EXCHANGE_BYTES> unacked_{}; // the last answer left unacknowledged
    std::size_t unackedLength_ = 0;

    // Reader side.
    std::uint64_t next_ = 1;
    std::uint64_t lost_ = 0;
};

} // namespace norvex::link
