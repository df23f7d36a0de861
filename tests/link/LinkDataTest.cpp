// SPDX-License-Identifier: GPL-3.0-or-later
// What the main window sees of the buffers that the link worker fills: copies of one moment,
// never half a read, and the RESET that forgets the validator's answers.

#include "link/LinkData.h"
#include "link/MarkedInput.h"
#include "link/ResponseAssembler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

using namespace norvex::link;

namespace {

using Bytes = std::vector<std::uint8_t>;

// Status answers of different lengths, a bare ACK among them.
const std::vector<Bytes> ANSWERS = {{0x06, 0x06},
                                    {0x80, 0x80, 0x00},
                                    {0x00},
                                    {0x03, 0x04, 0x05, 0x0C},
                                    {0x09, 0x01, 0x81, 0x82, 0x06, 0x0B, 0x1E}};

// The worker's steps for one exchange, as ComLink takes them: the frame goes out, the answer
// arrives in one read, the line falls quiet.
void exchange(ResponseAssembler& a, const Bytes& answer) {
    const Bytes poll{0x33, 0x33};
    a.frameSent(poll.data(), poll.size());
    std::vector<LineByte> read;
    for (std::uint8_t b : answer)
        read.push_back({b, false});
    std::size_t used = 0;
    if (!a.feedRead(read.data(), read.size(), used).complete) a.lineQuiet();
}

// How many bytes of an answer the traffic shows, when they are one whole answer after the POLL;
// -1 for anything else (a read seen half-way).
int wholeAnswer(const TrafficBuffer& t) {
    const auto n = static_cast<std::size_t>(std::count_if(
        t.received.begin(), t.received.end(), [](std::uint16_t v) { return v != TRAFFIC_EMPTY; }));
    if (n == 0) return 0;
    for (const Bytes& answer : ANSWERS) {
        if (answer.size() != n) continue;
        return std::equal(answer.begin(), answer.end(), t.received.begin() + 2) ? static_cast<int>(n) : -1;
    }
    return -1;
}

} // namespace

TEST(LinkData, TrafficCopiesShowWholeReadsWhileTheWorkerAssembles) {
    LinkData d;
    std::atomic<bool> stop{false};
    std::atomic<int> rounds{0};
    std::thread worker([&] {
        ResponseAssembler a(d);
        for (int round = 0; round < 1000000 && !stop.load(); ++round) {
            exchange(a, ANSWERS[static_cast<std::size_t>(round) % ANSWERS.size()]);
            rounds = round + 1;
        }
    });
    // Copies until both sides have done their share side by side.
    int torn = 0;
    int copies = 0;
    while (copies < 2000 || rounds.load() < 2000) {
        if (wholeAnswer(d.trafficSnapshot()) < 0) ++torn;
        if (d.withTraffic([](const TrafficBuffer& t) { return wholeAnswer(t); }) < 0) ++torn;
        ++copies;
    }
    stop = true;
    worker.join();
    EXPECT_EQ(torn, 0) << "of " << copies << " copies";
}

TEST(LinkData, ResetForgetsTheValidatorsAnswersAndKeepsTheDiagnosticRecords) {
    LinkData d;
    {
        auto rx = d.reception();
        for (RequestKind k : {REQ_SETUP, REQ_POLL, REQ_CASS_INFO, REQ_SENSORS, REQ_DEVICE_ID}) {
            rx.record(k).data.fill(0x5A);
            rx.record(k).count = 5;
            rx.record(k).sum = 0x77;
        }
        rx.shortAnswerLength() = 3;
        rx.diag().fill(0x11);
        rx.diagCount() = 9;
        rx.traffic().sent[0] = 0x33;
    }
    d.setState(REQ_SETUP, RequestState::Awaiting);
    d.resetReception();

    for (RequestKind k : {REQ_SETUP, REQ_POLL, REQ_CASS_INFO}) {
        const RecordBytes bytes = d.recordData(k);
        EXPECT_TRUE(std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0; })) << k;
        EXPECT_EQ(d.reception().record(k).count, 0u) << k;
        EXPECT_EQ(d.reception().record(k).sum, 0u) << k;
    }
    EXPECT_EQ(d.shortAnswer().length, 0);
    // The sensors' record starts again from its first byte; what it held stays until overwritten.
    EXPECT_EQ(d.reception().record(REQ_SENSORS).count, 0u);
    EXPECT_EQ(d.recordData(REQ_SENSORS)[0], 0x5A);
    // The identification, the diagnostic buffer, the traffic and the states are left alone.
    EXPECT_EQ(d.recordData(REQ_DEVICE_ID)[0], 0x5A);
    EXPECT_EQ(d.reception().record(REQ_DEVICE_ID).count, 5u);
    EXPECT_EQ(d.diagData()[0], 0x11);
    EXPECT_EQ(d.reception().diagCount(), 9u);
    EXPECT_EQ(d.trafficSnapshot().sent[0], 0x33);
    EXPECT_EQ(d.state(REQ_SETUP), RequestState::Awaiting);
}
