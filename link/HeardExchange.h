// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An exchange heard on a vending machine's bus by listening to both of its lines: the
// controller's command, the peripheral's answer and the controller's ACK, NAK or RET, with the
// times they were read and the faults a technician needs to see. BusListener makes them; the
// bus log keeps them and writes them into captures.

#include "ExchangeRecorder.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace norvex::link {

enum class HeardKind : std::uint8_t {
    Exchange,        // a command, its answer (if any) and the controller's reply (if any)
    Retransmission,  // the answer sent again after the controller's RET, and the reply to it
    PeripheralStray, // bytes on the peripherals' line that answer no command
    ControllerStray, // a byte on the controller's line that starts nothing
    BusReset,        // the controller held its line low: every peripheral resets
};

// Faults of a heard exchange: bits of HeardExchange::faults.
enum HeardFault : std::uint16_t {
    HEARD_LATE_ANSWER = 1u << 0,      // the answer began more than 5 ms after the command
    HEARD_LATE_ACK = 1u << 1,         // the controller's reply came more than 5 ms after the answer
    HEARD_MISSING_ACK = 1u << 2,      // a data answer the controller did not acknowledge
    HEARD_RESEND = 1u << 3,           // the answer repeats the device's last unacknowledged one
    HEARD_COMMAND_CHECKSUM = 1u << 4, // the command's checksum does not hold
    HEARD_ANSWER_CHECKSUM = 1u << 5,  // the answer's checksum does not hold
    HEARD_RESET = 1u << 6,            // a RESET command, or the bus reset
    HEARD_NO_ANSWER = 1u << 7,        // the command got no answer
    HEARD_COMMAND_CUT = 1u << 8,      // the command stopped short of its length
    HEARD_NAK = 1u << 9,              // the controller refused the answer
    HEARD_RET = 1u << 10,             // the controller asked for the answer again
};

// The longest command kept: a block of 36 bytes and room to spare; bytes beyond are dropped.
inline constexpr std::size_t HEARD_COMMAND_BYTES = 40;
// One character on the bus: start bit, 8 data bits, mode bit, stop bit at 9600 baud (µs).
inline constexpr std::int64_t MDB_CHAR_US = 1146;
// A peripheral answers, and the controller acknowledges, within this time (µs).
inline constexpr std::int64_t MDB_RESPONSE_LIMIT_US = 5000;

struct HeardExchange {
    std::uint64_t number = 0; // 1, 2, ... in the order they were heard
    HeardKind kind = HeardKind::Exchange;
    std::uint8_t address = 0; // of the command (stray answers: of the command heard last)
    std::uint8_t reply = 0;   // the controller's 00 (ACK), AA (RET) or FF (NAK), when replyUs >= 0
    std::uint8_t commandLength = 0;
    std::uint16_t faults = 0; // HeardFault bits
    std::int64_t wallUs = 0;  // wall clock, µs since 1970, at firstUs()
    // Monotonic µs at which each byte had been received, as far as the reads show (-1: none). A
    // retransmission's command times are the RET's.
    std::int64_t commandFirstUs = -1;
    std::int64_t commandLastUs = -1;
    std::int64_t answerFirstUs = -1;
    std::int64_t answerLastUs = -1;
    std::int64_t replyUs = -1;
    std::uint32_t answerReceived = 0; // bytes of the answer, also those beyond EXCHANGE_BYTES
    std::array<std::uint8_t, HEARD_COMMAND_BYTES> command{};
    std::array<std::uint8_t, EXCHANGE_BYTES> answer{};

    std::size_t answerLength() const {
        return answerReceived < EXCHANGE_BYTES ? answerReceived : EXCHANGE_BYTES;
    }
    bool has(HeardFault fault) const { return (faults & fault) != 0; }
    // The first stamp of the exchange, whatever came first.
    std::int64_t firstUs() const;
    // Wall-clock time of a monotonic stamp of this exchange.
    std::int64_t wallAt(std::int64_t monoUs) const { return wallUs + (monoUs - firstUs()); }
    // From the end of the command (a retransmission: of the RET) to the start of the answer, and
    // from the end of the answer to the start of the reply; -1 when either is missing. A little
    // below zero is possible: two adapters do not read at the same instant.
    std::int64_t answerDelayUs() const;
    std::int64_t replyDelayUs() const;
};

const char* heardKindName(HeardKind kind);

// The packets of one heard exchange in BusCapture's format, in the order they were on the wire:
// the command from the controller, the answer from the peripheral with the command's address, the
// controller's ACK, NAK or RET on its own. `lastWallUs` carries the newest packet time from one
// exchange to the next: a packet is never stamped before it, so the capture stays in time order
// where two adapters' read times disagree by a little.
void appendHeardPackets(const HeardExchange& heard, std::int64_t& lastWallUs, std::vector<std::uint8_t>& out);

} // namespace norvex::link
