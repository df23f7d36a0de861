// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What an exchange heard on a vending machine's bus says, for the bus monitor and the batch
// mode's lines: the device an address names, the command in words, what an answer says and what
// went wrong. The bill validator's frames and answers are the bus decoder's; the coin changer's and
// the cashless devices' commands are named and their common answers read; any other device is
// named by its address and command number. Pure functions over bytes.

#include "BusDecoder.h"
#include "link/HeardExchange.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace norvex::control {

// "coin changer", "cashless 1", "bill validator", "cashless 2", ... "device 48h".
std::string deviceName(std::uint8_t address);
// The command without the device: "POLL", "COIN TYPE", "VEND request", the validator's
// "STATUS request", "command 6" where nothing is known.
std::string heardCommandLabel(const std::uint8_t* command, std::size_t length);
// What a command asks for beyond its name (the validator's enables, coin types, prices).
std::string heardCommandMeaning(const std::uint8_t* command, std::size_t length);
// What an answer to the command says; a validator's SETUP answer updates `setup`.
std::string heardAnswerMeaning(const std::uint8_t* command, std::size_t commandLength,
                               const std::uint8_t* answer, std::size_t length, BusSetup& setup);
// The controller's reply and every fault of the exchange, in words ("ACK 0.412 ms after the
// last byte; late answer: 7.212 ms after the command").
std::string heardNote(const link::HeardExchange& heard);

} // namespace norvex::control
