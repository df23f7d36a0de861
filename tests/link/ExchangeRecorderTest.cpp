// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange records: stamped by the worker on a scripted port, and the ring that hands them to
// the window.

#include "link/ExchangeRecorder.h"
#include "link/ComLink.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using namespace norvex;
using namespace norvex::link;
using norvex::test::FakePortState;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

class QuietNotifier : public LinkNotifier {
public:
    std::atomic<int> codes{0};
    bool notify(std::uint8_t) override {
        ++codes;
        return true;
    }
    void linkFailed(const LinkFault&) override {}
    void cancelWaits() override {}
};

struct Rig {
    std::shared_ptr<FakePortState> port = std::make_shared<FakePortState>();
    LinkData data;
    PortMap ports;
    QuietNotifier notifier;
    ExchangeRecorder recorder{64};
    ComLink link{data, ports, test::fakePortFactory(port)};
    std::size_t writes = 0;

    void start() {
        link.setRecorder(&recorder);
        ASSERT_TRUE(link.open({.baud = 9600, .parity = Parity::Mark}));
        const LinkResult started = link.startWorker(notifier);
        ASSERT_TRUE(started) << started.fault().detail;
    }
    // Sends a frame and waits until it has left.
    void send(Bytes frame) {
        while (!data.submit(frame.data(), frame.size()))
            std::this_thread::sleep_for(1ms);
        ASSERT_TRUE(port->waitWrites(++writes));
    }
    void expectAck() { ASSERT_TRUE(port->waitWrites(++writes)); }
    // Closes the link (which finishes the open exchange) and returns every record.
    std::vector<ExchangeRecord> finish() {
        link.closePort();
        std::vector<ExchangeRecord> out;
        recorder.drain(out);
        return out;
    }
};

Bytes frameOf(const ExchangeRecord& r) {
    return Bytes(r.frame.begin(), r.frame.begin() + r.frameLength);
}
Bytes answerOf(const ExchangeRecord& r) {
    return Bytes(r.answer.begin(), r.answer.begin() + static_cast<std::ptrdiff_t>(r.answerLength()));
}

} // namespace

TEST(ExchangeRecorder, StampsFramesAnswersAndAcknowledgesInOrderWithTheScriptedDelays) {
    Rig rig;
    rig.start();
    // POLL answered after 8 ms with a status answer whose checksum comes 4 ms after its first
    // byte; then SETUP answered after 5 ms in one piece; then a POLL that gets no answer.
    rig.send({0x33, 0x33});
    std::this_thread::sleep_for(8ms);
    rig.port->feed({0x90});
    std::this_thread::sleep_for(4ms);
    rig.port->feed({0x90});
    rig.expectAck();
    rig.send({0x31, 0x31});
    std::this_thread::sleep_for(5ms);
    rig.port->feed(test::recordOf(28, 0x01));
    rig.expectAck();
    rig.send({0x33, 0x33});
    std::this_thread::sleep_for(30ms);
    const auto records = rig.finish();

    ASSERT_EQ(records.size(), 3u);
    const ExchangeRecord& poll = records[0];
    EXPECT_EQ(frameOf(poll), (Bytes{0x33, 0x33}));
    EXPECT_EQ(answerOf(poll), (Bytes{0x90, 0x90}));
    EXPECT_EQ(poll.end, ExchangeEnd::AckSent);
    EXPECT_EQ(poll.completion, RESP_POLL);
    // The stamps are the worker's; a worker thread that runs late moves a stamp by its lateness,
    // so the bounds leave 2 ms of the scripted delays for that.
    EXPECT_GE(poll.firstUs - poll.sentUs, 6000);
    EXPECT_LT(poll.firstUs - poll.sentUs, 1000000);
    EXPECT_GE(poll.lastUs - poll.firstUs, 2000);
    EXPECT_GE(poll.ackUs, poll.lastUs);

    const ExchangeRecord& setup = records[1];
    EXPECT_EQ(frameOf(setup), (Bytes{0x31, 0x31}));
    EXPECT_EQ(setup.received, 28u);
    EXPECT_EQ(setup.end, ExchangeEnd::AckSent);
    EXPECT_EQ(setup.completion, RESP_SETUP);
    EXPECT_GE(setup.firstUs - setup.sentUs, 3000);
    EXPECT_GE(setup.ackUs, setup.lastUs);

    const ExchangeRecord& silent = records[2];
    EXPECT_EQ(silent.end, ExchangeEnd::Silence);
    EXPECT_EQ(silent.received, 0u);
    EXPECT_EQ(silent.firstUs, -1);
    EXPECT_EQ(silent.ackUs, -1);

    for (std::size_t i = 0; i < records.size(); ++i) {
        EXPECT_EQ(records[i].number, i + 1);
        if (i > 0) {
            EXPECT_GT(records[i].sentUs, records[i - 1].ackUs);
        }
        EXPECT_EQ(records[i].wallAt(records[i].sentUs), records[i].wallUs);
    }
    // The wall clock moves with the monotonic one.
    EXPECT_NEAR(static_cast<double>(records[2].wallUs - records[0].wallUs),
                static_cast<double>(records[2].sentUs - records[0].sentUs), 50000.0);
}

TEST(ExchangeRecorder, RefusalsBareAcksAndDroppedBytesAreTold) {
    Rig rig;
    rig.start();
    rig.send({0x34, 0xFF, 0xFF, 0x00, 0x00, 0x32});
    rig.port->feed({0xFF});
    while (rig.notifier.codes < 1)
        std::this_thread::sleep_for(1ms);
    // A bare ACK with bytes behind it in the same read: the answer is the 00, the rest belongs
    // to no exchange.
    rig.send({0x35, 0x01, 0x36});
    rig.port->feed({0x00, 0x06, 0x06});
    while (rig.notifier.codes < 2)
        std::this_thread::sleep_for(1ms);
    rig.send({0x33, 0x33});
    rig.port->feed({0x03, 0x03});
    rig.expectAck();
    // A byte long after the answer ended.
    std::this_thread::sleep_for(20ms);
    rig.port->feed({0x09});
    std::this_thread::sleep_for(20ms);
    const auto records = rig.finish();

    ASSERT_EQ(records.size(), 5u);
    EXPECT_EQ(records[0].end, ExchangeEnd::Nak);
    EXPECT_EQ(answerOf(records[0]), (Bytes{0xFF}));
    EXPECT_EQ(records[0].ackUs, -1);
    EXPECT_EQ(records[1].end, ExchangeEnd::BareAck);
    EXPECT_EQ(answerOf(records[1]), (Bytes{0x00}));
    EXPECT_EQ(records[2].end, ExchangeEnd::Stray);
    EXPECT_EQ(records[2].frameLength, 0);
    EXPECT_EQ(records[2].sentUs, -1);
    EXPECT_EQ(answerOf(records[2]), (Bytes{0x06, 0x06}));
    EXPECT_EQ(records[3].end, ExchangeEnd::AckSent);
    EXPECT_EQ(answerOf(records[3]), (Bytes{0x03, 0x03}));
    EXPECT_EQ(records[4].end, ExchangeEnd::Stray);
    EXPECT_EQ(answerOf(records[4]), (Bytes{0x09}));
    EXPECT_GT(records[4].firstUs, records[3].ackUs);
}

TEST(ExchangeRecorder, AnAnswerCutOffByTheNextFrameIsPurged) {
    Rig rig;
    rig.start();
    rig.send({0x37, 0xFF, 'V', 'N', 'T', 0x00, 0xDD, 0x42});
    rig.port->feed(Bytes(10, 0x55)); // 10 of the statistics record's 73 bytes
    std::this_thread::sleep_for(30ms);
    rig.send({0x33, 0x33});
    const auto records = rig.finish();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].end, ExchangeEnd::Purged);
    EXPECT_EQ(records[0].received, 10u);
    EXPECT_EQ(records[0].completion, 0);
}

TEST(ExchangeRecorder, RepeatsOfUnacknowledgedAnswersAreMarked) {
    using Clock = ExchangeRecorder::Clock;
    ExchangeRecorder r(16);
    const Bytes poll{0x33, 0x33};
    const Bytes answer{0x90, 0x90};
    auto t = Clock::now();
    auto exchange = [&](const Bytes& bytes, bool ack, std::chrono::microseconds ackDelay,
                        bool resend = false) {
        r.frameSent(poll.data(), poll.size(), t);
        t += 2ms;
        r.received(bytes.data(), bytes.size(), bytes.size(), t);
        if (ack) r.answerCompleted(RESP_POLL, true, t + ackDelay, resend);
        t += 100ms;
    };
    exchange(answer, false, 0us);        // never completed: purged by the next frame
    exchange(answer, true, 500us);       // the same data again: a repeat, acknowledged at once
    exchange(answer, true, 500us);       // two bills of the same kind: not a repeat
    exchange(answer, true, 9ms);         // acknowledged too late for the validator
    exchange(answer, true, 500us, true); // ... so the worker took this one for its resend
    exchange({0x80, 0x80}, true, 500us);
    // A record whose checksum does not fit is not acknowledged; the same record asked for again
    // repeats it.
    const Bytes stats{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B};
    const Bytes hit{0x01, 0x02, 0x04};
    for (int i = 0; i < 2; ++i) {
        r.frameSent(stats.data(), stats.size(), t);
        r.received(hit.data(), hit.size(), hit.size(), t + 2ms);
        r.answerFaulty();
        t += 100ms;
    }
    r.linkClosed();
    std::vector<ExchangeRecord> out;
    ASSERT_EQ(r.drain(out), 8u);
    EXPECT_EQ(out[0].end, ExchangeEnd::Purged);
    const bool repeats[] = {false, true, false, false, false, false, false, true};
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].repeat, repeats[i]) << i;
        EXPECT_EQ(out[i].resend, i == 4) << i;
    }
    EXPECT_EQ(out[6].end, ExchangeEnd::ChecksumFault);
    EXPECT_EQ(out[6].ackUs, -1);
}

TEST(ExchangeRecorder, TheRingKeepsTheNewestWhenTheReaderFallsBehind) {
    ExchangeRecorder r(4);
    const auto t = ExchangeRecorder::Clock::now();
    for (std::uint8_t i = 1; i <= 11; ++i) {
        const std::uint8_t frame[2] = {0x33, i};
        r.frameSent(frame, 2, t + std::chrono::milliseconds(i)); // finishes the one before
    }
    std::vector<ExchangeRecord> out;
    ASSERT_EQ(r.drain(out), 4u);
    EXPECT_EQ(r.lost(), 6u);
    for (std::size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(out[k].number, 7 + k);
        EXPECT_EQ(out[k].frame[1], 7 + k);
    }
    // Nothing new: nothing more; then the last one once the link closes.
    EXPECT_EQ(r.drain(out), 0u);
    r.linkClosed();
    ASSERT_EQ(r.drain(out), 1u);
    EXPECT_EQ(out.back().frame[1], 11);
    EXPECT_EQ(r.lost(), 6u);
}

TEST(ExchangeRecorder, AReaderRacingTheWorkerGetsWholeRecordsInOrder) {
    // Each record carries its number in every byte of its answer: a record torn by an overwrite
    // shows up as mixed bytes.
    ExchangeRecorder r(8);
    constexpr int COUNT = 20000;
    std::thread worker([&] {
        const auto t0 = ExchangeRecorder::Clock::now();
        std::vector<std::uint8_t> bytes(40);
        for (int i = 1; i <= COUNT; ++i) {
            const std::uint8_t frame[2] = {0x33, static_cast<std::uint8_t>(i)};
            r.frameSent(frame, 2, t0 + std::chrono::microseconds(i));
            std::fill(bytes.begin(), bytes.end(), static_cast<std::uint8_t>(i));
            r.received(bytes.data(), bytes.size(), bytes.size(), t0 + std::chrono::microseconds(i));
            r.answerCompleted(RESP_POLL, true, t0 + std::chrono::microseconds(i));
        }
    });
    std::vector<ExchangeRecord> out;
    std::uint64_t last = 0;
    while (last < COUNT) {
        out.clear();
        r.drain(out);
        for (const ExchangeRecord& rec : out) {
            ASSERT_GT(rec.number, last);
            last = rec.number;
            ASSERT_EQ(rec.received, 40u);
            for (std::size_t k = 0; k < 40; ++k)
                ASSERT_EQ(rec.answer[k], static_cast<std::uint8_t>(rec.number));
            ASSERT_EQ(rec.frame[1], static_cast<std::uint8_t>(rec.number));
        }
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(last, static_cast<std::uint64_t>(COUNT));
}

TEST(ExchangeRecorder, WallTimesKeepTheOrderOfTheLinksClock) {
    // A worker that records late (its time stamps lie 50 ms back): the stray bytes read with the
    // bare ACK still come after it, 1 ms after the frame, as on the link's clock.
    ExchangeRecorder r{16};
    const auto t0 = ExchangeRecorder::Clock::now() - 50ms;
    const std::uint8_t poll[2] = {0x33, 0x33};
    const std::uint8_t in[3] = {0x00, 0x06, 0x06};
    r.frameSent(poll, 2, t0);
    r.received(in, 3, 1, t0 + 1ms);
    r.answerCompleted(RESP_POLL, false, t0 + 1ms, false);
    r.linkClosed();
    std::vector<ExchangeRecord> out;
    ASSERT_EQ(r.drain(out), 2u);
    EXPECT_EQ(out[1].end, ExchangeEnd::Stray);
    EXPECT_EQ(out[1].wallAt(out[1].firstUs) - out[0].wallAt(out[0].sentUs), 1000);
    EXPECT_EQ(out[1].wallAt(out[1].firstUs), out[0].wallAt(out[0].firstUs));
}
