// SPDX-License-Identifier: GPL-3.0-or-later
#include "LoaderModel.h"

namespace norvex::download::testing {

uint16_t loaderCheckValue(const std::map<uint32_t, std::vector<uint8_t>>& memory) {
    uint16_t crc = 0xFFFF;
    for (const auto& [address, data] : memory) {
        for (uint8_t byte : data) {
            crc ^= static_cast<uint16_t>(byte << 8);
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        }
    }
    return crc;
}

std::vector<uint8_t> LoaderModel::feed(const uint8_t* data, size_t length) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < length; ++i)
        onByte(data[i], out);
    return out;
}

void LoaderModel::onByte(uint8_t b, std::vector<uint8_t>& out) {
    pending_.push_back(b);
    switch (state_) {
    case State::Command:
        // Resynchronise on "#C": drop anything that cannot start a frame.
        if (pending_.size() == 1 && b != '#')
            pending_.clear();
        else if (pending_.size() == 2 && b != 'C')
            pending_.clear();
        else if (pending_.size() == 4) {
            const uint8_t code = pending_[2];
            const bool valid = static_cast<uint8_t>(~code) == pending_[3];
            pending_.clear();
            if (valid) onCommand(code, out);
        }
        break;
    case State::Address:
        if (pending_.size() == 3) {
            address_ = uint32_t{pending_[0]} << 16 | uint32_t{pending_[1]} << 8 | pending_[2];
            pending_.clear();
            const int index = static_cast<int>(acceptedOrder.size());
            ++recordFrames[index];
            const bool refuse = behaviour_.refuseRecord == index;
            out.insert(out.end(), {'#', static_cast<uint8_t>(refuse ? 'N' : 'A')});
            state_ = refuse ? State::Command : State::Block;
        }
        break;
    case State::SpeedByte:
        speedByte = b;
        pending_.clear();
        state_ = State::Command;
        break;
    case State::Block:
        if (pending_.size() == 128) {
            block_ = pending_;
            pending_.clear();
            onBlockDone(out);
        }
        break;
    case State::Ack:
        if (pending_.size() == 2) {
            const bool ack = pending_[0] == '#' && pending_[1] == 'A';
            pending_.clear();
            state_ = State::Command;
            if (ack)
                onAckDone(out);
            else
                out.insert(out.end(), {'#', 'N'});
        }
        break;
    }
}

void LoaderModel::onCommand(uint8_t code, std::vector<uint8_t>& out) {
    const int wanted = (code == 0x08 || code == 0x83) ? 9600 : 38400;
    if (behaviour_.checkSpeed && baud_ != wanted) return; // garbled at the wrong speed
    commands.push_back(code);
    commandBauds.push_back(baud_);
    switch (code) {
    case 0x08:
        out.insert(out.end(), behaviour_.handshakeAnswer.begin(), behaviour_.handshakeAnswer.end());
        break;
    case 0x83:
        state_ = State::SpeedByte;
        break;
    case 0x75:
        out.insert(out.end(), behaviour_.speedCheckAnswer.begin(), behaviour_.speedCheckAnswer.end());
        break;
    case 0x20:
        ++headerFrames;
        if (behaviour_.refuseHeader) {
            out.insert(out.end(), {'#', 'N'});
        } else {
            out.insert(out.end(), {'#', 'A'});
            state_ = State::Block;
        }
        break;
    case 0x0C:
        state_ = State::Address;
        break;
    case 0x84:
        if (behaviour_.checkValueAnswer) {
            out.insert(out.end(), behaviour_.checkValueAnswer->begin(), behaviour_.checkValueAnswer->end());
        } else {
            const uint16_t value = loaderCheckValue(memory);
            out.insert(out.end(), {static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value & 0xFF)});
        }
        break;
    default:
        break;
    }
}

void LoaderModel::onBlockDone(std::vector<uint8_t>& out) {
    state_ = State::Ack;
    if (!behaviour_.silentAfterBlock) out.insert(out.end(), block_.begin(), block_.end());
}

void LoaderModel::onAckDone(std::vector<uint8_t>& out) {
    if (behaviour_.silentAfterBlock) return;
    const bool isHeader = commands.back() == 0x20;
    if (isHeader) {
        if (headerNaksLeft_ < 0) headerNaksLeft_ = behaviour_.headerNaks;
        if (headerNaksLeft_ > 0) {
            --headerNaksLeft_;
            out.insert(out.end(), {'#', 'N'});
            return;
        }
        header = block_;
        out.insert(out.end(), {'#', 'A'});
        return;
    }
    const int index = static_cast<int>(acceptedOrder.size());
    const auto naks = behaviour_.recordNaks.find(index);
    if (naks != behaviour_.recordNaks.end() && recordNaksDone_[index] < naks->second) {
        ++recordNaksDone_[index];
        out.insert(out.end(), {'#', 'N'});
        return;
    }
    if (behaviour_.lateAnswerRecord == index && lateAnswered_.insert(index).second) {
        out.insert(out.end(), {'#', 'N', '#', 'A'});
        return;
    }
    memory[address_] = block_;
    acceptedOrder.push_back(address_);
    out.insert(out.end(), {'#', 'A'});
}

} // namespace norvex::download::testing
