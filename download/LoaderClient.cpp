// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/LoaderClient.h"

#include <algorithm>
#include <array>

namespace norvex::download {

LoaderClient::LoaderClient(ByteChannel& channel, const LoaderTiming& timing, std::function<void()> idle)
    : channel_(channel), timing_(timing), idle_(std::move(idle)) {}

bool LoaderClient::send(std::span<const uint8_t> bytes) {
    if (!channel_.write(bytes.data(), bytes.size())) return false;
    traffic_.bytesSent += bytes.size();
    return true;
}

size_t LoaderClient::receive(uint8_t* buf, size_t n, int timeoutMs) {
    const size_t got = channel_.read(buf, n, timeoutMs);
    traffic_.bytesReceived += got;
    if (got < n) ++traffic_.timeouts;
    return got;
}

bool LoaderClient::receiveAck(int timeoutMs) {
    std::array<uint8_t, 2> answer{};
    const size_t got = receive(answer.data(), answer.size(), timeoutMs);
    return isAck(answer.data(), got);
}

// Drops whatever a late or garbled loader answer left in the input, so that it cannot be taken for
// the answer to the next frame. Bounded, in case the line keeps delivering noise.
void LoaderClient::discardInput() {
    std::array<uint8_t, 256> junk;
    for (int i = 0; i < 16; ++i) {
        const size_t got = channel_.read(junk.data(), junk.size(), 0);
        if (got == 0) return;
        traffic_.bytesDiscarded += got;
    }
}

void LoaderClient::wait(int ms) {
    while (ms > 0) {
        const int slice = std::min(ms, WAIT_SLICE_MS);
        channel_.delayMs(slice);
        ms -= slice;
        if (idle_) idle_();
    }
}

bool LoaderClient::handshake() {
    const auto frame = commandFrame(LoaderCommand::Handshake);
    if (!send(frame)) return false;
    return receiveAck(timing_.answerTimeoutMs);
}

bool LoaderClient::changeSpeed() {
    const auto frame = commandFrame(LoaderCommand::SetSpeed);
    const std::array<uint8_t, 1> speed{SPEED_BYTE_38400};
    send(frame);
    send(speed);
    wait(timing_.speedChangeDelayMs);
    return channel_.reopen(TRANSFER_BAUD);
}

void LoaderClient::speedCheck() {
    const auto frame = commandFrame(LoaderCommand::SpeedCheck);
    send(frame);
    wait(timing_.speedCheckDelayMs);
    std::array<uint8_t, 2> answer{};
    receive(answer.data(), answer.size(), timing_.answerTimeoutMs);
}

ExchangeResult LoaderClient::sendHeader(const ImageHeader& header) {
    return exchangeBlock(LoaderCommand::Header, {}, std::span<const uint8_t, 128>(header), HEADER_ATTEMPTS);
}

ExchangeResult LoaderClient::sendRecord(std::span<const uint8_t, 3> address,
                                        std::span<const uint8_t, 128> data) {
    return exchangeBlock(LoaderCommand::Record, address, data, RECORD_ATTEMPTS);
}

ExchangeResult LoaderClient::exchangeBlock(LoaderCommand command, std::span<const uint8_t> prefix,
                                           std::span<const uint8_t, 128> block, int maxAttempts) {
    // The frame and the address bytes that follow it go out in one write.
    std::array<uint8_t, 4 + ADDRESS_SIZE> opening{};
    const auto frame = commandFrame(command);
    std::copy(frame.begin(), frame.end(), opening.begin());
    std::copy(prefix.begin(), prefix.end(), opening.begin() + frame.size());
    const std::span<const uint8_t> openingBytes(opening.data(), frame.size() + prefix.size());

    ExchangeResult result;
    std::array<uint8_t, BLOCK_SIZE> returned{};
    while (result.attempts < maxAttempts) {
        ++result.attempts;
        discardInput();
        // A frame the loader did not take ends the exchange at once: no repeat.
        if (!send(openingBytes) || !receiveAck(timing_.answerTimeoutMs)) {
            result.refused = true;
            return result;
        }
        if (!send(block)) continue;
        receive(returned.data(), returned.size(), timing_.blockTimeoutMs); // not examined
        if (!send(LOADER_ACK)) continue;
        if (receiveAck(timing_.blockAckTimeoutMs)) {
            result.accepted = true;
            return result;
        }
    }
    return result;
}

std::optional<uint16_t> LoaderClient::requestCheckValue() {
    const auto frame = commandFrame(LoaderCommand::CheckValue);
    send(frame);
    wait(timing_.checkValueDelayMs);
    std::array<uint8_t, 2> value{};
    if (receive(value.data(), value.size(), timing_.checkValueTimeoutMs) < value.size()) return std::nullopt;
    return static_cast<uint16_t>(value[0] << 8 | value[1]);
}

} // namespace norvex::download
