// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FailurePlan.h"
#include "FrameParser.h"
#include "Records.h"
#include "Scenario.h"

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

namespace norvex::sim {

// How many queued status bytes one POLL answer carries.
enum class PollBatch {
    Max, // every queued one up to 16, whatever they hold, as a validator sends them
    // As many as fit (at most 16) while no byte before the checksum equals the running sum of
    // the bytes before it and the checksum is neither 00 nor FF: a controller that completes a
    // short answer on its first byte matching the running sum reads the answer whole.
    Safe,
    One, // one status byte per POLL
};

// The bill validator's MDB side, free of I/O: frames in, answers out, time given by the caller.
// Log lines are JSON object members without the time stamp (the caller adds "t").
class Validator {
public:
    struct Config {
        std::int64_t ackWindowUs = 5000;
        PollBatch batch = PollBatch::Max;
    };

    explicit Validator(Config config);
    Validator() : Validator(Config{}) {}

    // Handles one item of the frame parser; returns the answer to send, if any.
    std::optional<Transmission> onItem(const ParsedItem& item, std::int64_t nowUs);
    // The caller has written the last byte of the answer returned last.
    void onSent(std::int64_t nowUs);
    // The controller's RET: the caller has written that answer again; the acknowledge it waits
    // for is counted from now.
    void onResent(std::int64_t nowUs);
    // Notes an acknowledge window that has run out.
    void tick(std::int64_t nowUs);
    std::optional<std::int64_t> deadline() const;

    // Control commands; the result is "ok" or a reason. End is the caller's business.
    std::string apply(const Command& command);

    std::string insertBill(int type, EscrowChoice escrow);
    void insertCoupon();
    std::string queueStatus(const Bytes& bytes);

    std::vector<std::string> takeLog();

    Records& records() { return records_; }
    FailurePlan& failures() { return failures_; }
    const std::deque<std::uint8_t>& queue() const { return queue_; }
    std::uint32_t billMask() const { return mask_; }
    int escrowedType() const { return escrowed_; }

    static constexpr std::size_t MAX_QUEUE = 256;
    static constexpr std::size_t MAX_PER_POLL = 16;

private:
    Transmission answerFor(const ParsedItem& frame, std::string& kind);
    Transmission pollAnswer();
    std::size_t batchSize() const;
    void push(std::uint8_t status);
    void stackEscrowed();
    void log(const std::string& members) { log_.push_back(members); }
    void closeAckWait(bool missing);

    Config config_;
    Records records_;
    FailurePlan failures_;
    std::deque<std::uint8_t> queue_;
    std::uint32_t mask_ = 0;   // bits 31..16 bill enable for types 15..0, bits 15..0 escrow enable
    int escrowed_ = -1;        // bill type held in escrow, -1 none
    std::size_t inFlight_ = 0; // status bytes of the last POLL answer, not yet acknowledged

    struct AckWait {
        bool active = false;
        bool sent = false;
        bool expired = false;
        std::string kind;
        std::size_t pollBytes = 0;
        std::int64_t sentUs = 0;
    } ack_;
    bool lastExpectsAck_ = false;
    std::string lastKind_;

    std::vector<std::string> log_;
};

std::string jsonString(const std::string& text);

} // namespace norvex::sim
