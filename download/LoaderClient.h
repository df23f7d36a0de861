// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "download/ByteChannel.h"
#include "download/FirmwareImage.h"
#include "download/LoaderProtocol.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace norvex::download {

// Bytes and time-outs of one loader dialogue, for reports and measurements.
struct LoaderTraffic {
    size_t bytesSent = 0;
    size_t bytesReceived = 0;
    size_t bytesDiscarded = 0; // stale input dropped before a block exchange
    int timeouts = 0;          // reads that ended with fewer bytes than asked for
};

// The outcome of one block exchange.
struct ExchangeResult {
    bool accepted = false;
    int attempts = 0;     // attempts made, the last one included
    bool refused = false; // the command frame itself was not answered "#A": no repeat was made
};

// The tool's side of the loader dialogue over a byte channel. Sequential and blocking; long waits
// are cut into short slices with the idle callback in between, so that windows can repaint.
class LoaderClient {
public:
    LoaderClient(ByteChannel& channel, const LoaderTiming& timing, std::function<void()> idle = {});

    // Handshake frame; true when the loader answers exactly "#A".
    bool handshake();
    // Asks the loader for 38400 baud, waits for it and reopens the line at that speed; returns the reopen
    // result.
    bool changeSpeed();
    // First frame at the new speed; its answer is read and not examined.
    void speedCheck();

    ExchangeResult sendHeader(const ImageHeader& header);
    ExchangeResult sendRecord(std::span<const uint8_t, 3> address, std::span<const uint8_t, 128> data);

    // The loader's check value (first byte high); nothing when fewer than two bytes arrived.
    std::optional<uint16_t> requestCheckValue();

    // Waits ms milliseconds in slices, calling the idle callback after each slice.
    void wait(int ms);

    const LoaderTraffic& traffic() const { return traffic_; }

    static constexpr int WAIT_SLICE_MS = 20;

private:
    ExchangeResult exchangeBlock(LoaderCommand command, std::span<const uint8_t> prefix,
                                 std::span<const uint8_t, 128> block, int maxAttempts);
    bool send(std::span<const uint8_t> bytes);
    size_t receive(uint8_t* buf, size_t n, int timeoutMs);
    bool receiveAck(int timeoutMs);
    void discardInput();

    ByteChannel& channel_;
    LoaderTiming timing_;
    std::function<void()> idle_;
    LoaderTraffic traffic_;
};

} // namespace norvex::download
