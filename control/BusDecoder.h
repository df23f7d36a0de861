// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the bytes on the bus mean, for the bus monitor: the command a frame carries, what an
// answer says (events with their bill values, setup and identification fields, which
// diagnostics record, ACK and NAK) and whether a checksum holds. Pure functions over bytes; the
// event and command texts are the controller's own.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace norvex::control {

// What the last SETUP answer on the bus said about bill values.
struct BusSetup {
    bool known = false;
    std::uint16_t scaling = 1;
    std::uint8_t decimals = 0;
    std::array<std::uint8_t, 16> credits{};
};

// A frame's command, in the command history's words with the MDB name beside where that differs
// ("STATUS request (POLL)"; the diagnostics frames with their record: "DIAGNOSTICS req.
// statistics"); "ACK" for the controller's lone 00. The monitor's rows, its filter and the typed
// frame's messages all use this one name.
std::string commandLabel(const std::uint8_t* frame, std::size_t length);
// The bus monitor's filter entry for frames that start with `code` ("33 STATUS request (POLL)").
std::string commandFilterLabel(std::uint8_t code);
// What a frame asks for beyond its command (the enabled bill types, stack or return).
std::string frameMeaning(const std::uint8_t* frame, std::size_t length);
// What an answer to the frame says. A SETUP answer also updates `setup`, so that later events
// carry their bill values.
std::string answerMeaning(const std::uint8_t* frame, std::size_t frameLength, const std::uint8_t* answer,
                          std::size_t length, BusSetup& setup);
// A bill type's value: its credit times the scaling factor, with the decimal places ("2.50").
std::string billValue(std::uint8_t credit, const BusSetup& setup);

enum class ChecksumState : std::uint8_t { None, Good, Bad };
// Frames and answers of two bytes or more end with the low 8 bits of the sum of the bytes
// before; a lone ACK or NAK has none.
ChecksumState checksumState(const std::uint8_t* bytes, std::size_t length);

} // namespace norvex::control
