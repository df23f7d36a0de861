// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// A validator loader as the tests see it: fed the bytes the tool writes, it produces the loader's
// answers. Used in-process by the scripted channel and on a pseudo-terminal by the peer thread.
// Written from the protocol alone, independently of the tool's own code.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace norvex::download::testing {

// CRC-16/CCITT (poly 0x1021, start 0xFFFF) over the data of the received records in address order:
// the tests' stand-in for the loader's check value.
uint16_t loaderCheckValue(const std::map<uint32_t, std::vector<uint8_t>>& memory);

struct LoaderBehaviour {
    std::vector<uint8_t> handshakeAnswer{'#', 'A'};
    std::vector<uint8_t> speedCheckAnswer{'#', 'A'};
    bool refuseHeader = false;             // answers the header frame with "#N"
    std::optional<int> refuseRecord{};     // answers this record's frame with "#N"
    int headerNaks = 0;                    // the first n header blocks end with "#N"
    std::map<int, int> recordNaks{};       // record index -> blocks that end with "#N" before "#A"
    bool silentAfterBlock = false;         // neither echoes a block nor answers its acknowledge
    std::optional<int> lateAnswerRecord{}; // this record's first block ends with "#N#A" (a late extra "#A")
    std::optional<std::vector<uint8_t>> checkValueAnswer{}; // instead of the computed value
    bool checkSpeed = true; // a frame at the wrong speed is line noise: no answer
};

class LoaderModel {
public:
    explicit LoaderModel(LoaderBehaviour behaviour = {}) : behaviour_(std::move(behaviour)) {}

    void setBaud(int baud) { baud_ = baud; }
    // Takes bytes from the tool; returns the loader's answer to them (possibly nothing).
    std::vector<uint8_t> feed(const uint8_t* data, size_t length);

    // What the loader saw.
    std::vector<uint8_t> commands;                   // every command code received, in order
    std::vector<int> commandBauds;                   // the speed each command arrived at
    std::vector<uint8_t> header;                     // the last header block received
    std::map<uint32_t, std::vector<uint8_t>> memory; // accepted records by address
    std::vector<uint32_t> acceptedOrder;             // addresses in the order accepted
    std::map<int, int> recordFrames;                 // record index -> frames received for it
    int headerFrames = 0;
    std::optional<uint8_t> speedByte{};

private:
    enum class State { Command, Address, SpeedByte, Block, Ack };
    void onByte(uint8_t b, std::vector<uint8_t>& out);
    void onCommand(uint8_t code, std::vector<uint8_t>& out);
    void onBlockDone(std::vector<uint8_t>& out);
    void onAckDone(std::vector<uint8_t>& out);

    LoaderBehaviour behaviour_;
    int baud_ = 9600;
    State state_ = State::Command;
    std::vector<uint8_t> pending_;
    uint32_t address_ = 0;
    std::vector<uint8_t> block_;
    int headerNaksLeft_ = -1;
    std::map<int, int> recordNaksDone_;
    std::set<int> lateAnswered_;
};

} // namespace norvex::download::testing
