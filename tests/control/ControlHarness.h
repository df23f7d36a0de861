// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A controller on a LinkData whose worker side the test plays: frames leave the transmit slot
// as the worker would send them, and answers are put in the records before their completion
// code is handled.

#include "control/Controller.h"
#include "support/RecordingSurface.h"
#include "support/RecordingView.h"

#include <gtest/gtest.h>

#include <vector>

namespace norvex::test {

using Bytes = std::vector<std::uint8_t>;
inline const Bytes POLL{0x33, 0x33}, RESET{0x30, 0x30}, SETUP{0x31, 0x31}, IDENT{0x37, 0x00, 0x37};

class ControlHarness : public ::testing::Test {
protected:
    link::LinkData data;
    RecordingView view;
    control::Controller ctl{data, view};

    // The worker sends the slot's frame; an awaited kind's clock restarts as it goes out.
    Bytes transmit() {
        std::array<std::uint8_t, link::TX_SLOT_SIZE> out{};
        const Bytes f(out.begin(), out.begin() + static_cast<long>(data.take(out)));
        if (f == SETUP) data.reception().record(link::REQ_SETUP).elapsedMs = 0;
        if (f.size() == 8 && f[6] == 0xE8) data.reception().record(link::REQ_OPTICS).elapsedMs = 0;
        data.release();
        return f;
    }
    Bytes tick() {
        ctl.tick();
        return transmit();
    }
    void answer(link::RequestKind kind, std::uint8_t code, const Bytes& bytes) {
        {
            auto rx = data.reception();
            auto& r = rx.record(kind);
            r.data.fill(0);
            std::copy(bytes.begin(), bytes.end(), r.data.begin());
        }
        ASSERT_TRUE(ctl.interpretStandard(code));
    }
    // A short answer as the link framed it: its status bytes and checksum, or a bare ACK or NAK.
    void answerPoll(const Bytes& bytes) {
        data.reception().shortAnswerLength() = static_cast<std::uint8_t>(bytes.size());
        answer(link::REQ_POLL, link::RESP_POLL, bytes);
    }
    // Feature level 1, country 1234h, scaling 5, 2 decimals, capacity 300, then the credits.
    void answerSetup(Bytes credits) {
        credits.insert(credits.begin(), {0x01, 0x12, 0x34, 0x00, 0x05, 0x02, 0x01, 0x2C, 0xFF, 0xFF, 0xFF});
        answer(link::REQ_SETUP, link::RESP_SETUP, credits);
    }
    // The start-up sequence with a validator that answers at once (types 0..7).
    std::vector<Bytes> answeredStartup() {
        std::vector<Bytes> frames;
        for (int t = 1; t <= 25; ++t) {
            frames.push_back(tick());
            if (frames.back() == SETUP) answerSetup({1, 2, 5, 10, 20, 50, 100, 200});
            if (frames.back() == IDENT) answer(link::REQ_DEVICE_ID, link::RESP_IDENT, {'V', 'N', 'T'});
        }
        return frames;
    }
};

} // namespace norvex::test
