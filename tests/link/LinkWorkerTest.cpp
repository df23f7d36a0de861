// SPDX-License-Identifier: GPL-3.0-or-later
// The link worker with a scripted port: frames out, answers in, acknowledges and notifications.

#include "link/ComLink.h"
#include "support/FakePort.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace norvex;
using namespace norvex::link;
using norvex::test::FakePortState;

namespace {

class RecordingNotifier : public LinkNotifier {
public:
    explicit RecordingNotifier(LinkData& d) : d_(d) {}
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> codes;
    std::vector<std::vector<std::uint8_t>> pollData; // REQ_POLL data at each RESP_POLL
    std::atomic<int> failures{0};
    std::atomic<bool> cancelled{false};
    std::atomic<int> handlerDelayMs{0};
    std::atomic<bool> block{false}; // the window thread is busy until cancelled

    bool notify(std::uint8_t code) override {
        if (cancelled) return false;
        {
            std::lock_guard<std::mutex> lk(m);
            codes.push_back(code);
            if (code == RESP_POLL) {
                const RecordBytes r = d_.recordData(REQ_POLL);
                pollData.emplace_back(r.begin(), r.begin() + 4);
            }
            cv.notify_all();
        }
        if (handlerDelayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(handlerDelayMs.load()));
        while (block && !cancelled)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return !cancelled;
    }
    void linkFailed(const LinkFault&) override { ++failures; }
    void cancelWaits() override { cancelled = true; }

    bool waitCodes(std::size_t n, int ms = 2000) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::milliseconds(ms), [&] { return codes.size() >= n; });
    }
    std::vector<std::uint8_t> snapshot() {
        std::lock_guard<std::mutex> lk(m);
        return codes;
    }

private:
    LinkData& d_;
};

struct Rig {
    std::shared_ptr<FakePortState> port = std::make_shared<FakePortState>();
    LinkData data;
    PortMap ports;
    // The window outlives the link, as in the program: closing the port still reaches it.
    RecordingNotifier notifier{data};
    ComLink link{data, ports, test::fakePortFactory(port)};

    void start() {
        ASSERT_TRUE(link.open({.baud = 9600, .parity = Parity::Mark}));
        const LinkResult started = link.startWorker(notifier);
        ASSERT_TRUE(started) << started.fault().detail;
    }
    void send(std::vector<std::uint8_t> frame) {
        while (!data.submit(frame.data(), frame.size()))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
};

using Bytes = std::vector<std::uint8_t>;

} // namespace

TEST(LinkWorker, SendsTheFrameAndAcknowledgesAStatusAnswer) {
    Rig rig;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed({0x03, 0x03});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    ASSERT_TRUE(rig.port->waitWrites(2));
    const auto writes = rig.port->writesSnapshot();
    EXPECT_EQ(writes[0], (Bytes{0x33, 0x33}));
    EXPECT_EQ(writes[1], (Bytes{0x00}));
    EXPECT_EQ(rig.notifier.snapshot(), (Bytes{RESP_POLL}));
    EXPECT_EQ(rig.data.txLength.load(), 0);
    rig.link.closePort();
}

TEST(LinkWorker, BareAckIsNotAcknowledged) {
    Rig rig;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed({0x00});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(rig.port->writesSnapshot().size(), 1u);
    rig.link.closePort();
}

TEST(LinkWorker, AcknowledgeGoesBeforeTheSlowWindowHasHandledTheAnswer) {
    Rig rig;
    rig.notifier.handlerDelayMs = 300;
    rig.start();
    rig.send({0x31, 0x31});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed(test::recordOf(28, 0x11));
    // The ACK must be on the wire long before the 300 ms handler returns.
    ASSERT_TRUE(rig.port->waitWrites(2, 150));
    EXPECT_EQ(rig.port->writesSnapshot()[1], (Bytes{0x00}));
    rig.link.closePort();
}

TEST(LinkWorker, ChecksumMatchIsAcknowledgedOnlyOnceTheLineStaysQuiet) {
    Rig rig;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    // Two bills of type 0: the second 80 equals the sum before it, and the 00 that follows in
    // the same read makes it a status byte.
    const auto fed = std::chrono::steady_clock::now();
    rig.port->feed({0x80, 0x80, 0x00});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    ASSERT_TRUE(rig.port->waitWrites(2));
    EXPECT_EQ(rig.notifier.pollData.at(0), (Bytes{0x80, 0x80, 0x00, 0x00}));
    EXPECT_EQ(rig.data.shortAnswer().length, 3);
    std::lock_guard<std::mutex> lk(rig.port->m);
    EXPECT_EQ(rig.port->writes[1], (Bytes{0x00}));
    EXPECT_GE(rig.port->writeTimes[1] - fed, std::chrono::milliseconds(3));
}

TEST(LinkWorker, MarkedPortIsUnescapedAndFramedByItsModeBitsOnceTheyAgree) {
    Rig rig;
    rig.port->marks = true;
    rig.start();
    EXPECT_EQ(rig.link.framing(), Framing::QuietLine);
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    // F5 0A FF: two flagged status bytes and a checksum FF, doubled; the escape is cut in two.
    rig.port->feed({0xFF, 0x00, 0xF5, 0xFF, 0x00, 0x0A, 0xFF});
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    rig.port->feed({0xFF});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    ASSERT_TRUE(rig.port->waitWrites(2));
    EXPECT_EQ(rig.notifier.pollData.at(0), (Bytes{0xF5, 0x0A, 0xFF, 0x00}));
    {
        const TrafficBuffer traffic = rig.data.trafficSnapshot();
        EXPECT_EQ(traffic.received[2], 0xF5); // the traffic sees the bytes on the wire
        EXPECT_EQ(traffic.received[4], 0xFF);
        EXPECT_EQ(traffic.received[5], TRAFFIC_EMPTY);
    }
    EXPECT_EQ(rig.link.framing(), Framing::ModeBit);

    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(3));
    rig.port->feed({0xFF, 0x00, 0x80, 0xFF, 0x00, 0x80, 0x00});
    ASSERT_TRUE(rig.notifier.waitCodes(2));
    ASSERT_TRUE(rig.port->waitWrites(4));
    EXPECT_EQ(rig.notifier.pollData.at(1), (Bytes{0x80, 0x80, 0x00, 0x00}));
    EXPECT_EQ(rig.port->writesSnapshot()[3], (Bytes{0x00}));
    EXPECT_EQ(rig.link.framing(), Framing::ModeBit);
    rig.link.closePort();
}

TEST(LinkWorker, FrameWaitsForAnAnswerThatIsStillArriving) {
    Rig rig;
    rig.start();
    rig.send({0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B});
    ASSERT_TRUE(rig.port->waitWrites(1));
    // Half of the statistics record arrives, then an ESCROW frame is placed in the slot while
    // the rest is still coming in paced bytes.
    // The rest comes from a kernel timer, so a loaded machine cannot open a quiet gap in it.
    const Bytes stats = test::recordOf(STATS_LENGTH, 0x05);
    rig.port->feed(Bytes(stats.begin(), stats.begin() + 36));
    rig.port->pace(Bytes(stats.begin() + 36, stats.end()), std::chrono::microseconds(1100));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    rig.send({0x35, 0x01, 0x36});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    EXPECT_EQ(rig.notifier.snapshot()[0], RESP_STATS);
    ASSERT_TRUE(rig.port->waitWrites(3));
    const auto writes = rig.port->writesSnapshot();
    EXPECT_EQ(writes[1], (Bytes{0x00}));             // the record's ACK first
    EXPECT_EQ(writes[2], (Bytes{0x35, 0x01, 0x36})); // then the held frame
    rig.link.closePort();
}

TEST(LinkWorker, FrameWaitsForAnAnswerThatHasNotBegunYet) {
    Rig rig;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    // The answer begins 1.5 ms on, by a kernel timer; a second tick comes too soon after the
    // first, in the slot before the answer begins (or, on a slow machine, before it ends).
    rig.port->pace({0x92, 0x92}, std::chrono::microseconds(1500));
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    ASSERT_TRUE(rig.port->waitWrites(3));
    const auto writes = rig.port->writesSnapshot();
    EXPECT_EQ(writes[1], (Bytes{0x00}));
    EXPECT_EQ(writes[2], (Bytes{0x33, 0x33}));
    rig.link.closePort();
}

TEST(LinkWorker, FrameWaitsForBytesStillArrivingAfterAnEarlyCompletion) {
    Rig rig;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed({0x00}); // complete at once, but the validator goes on sending
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    rig.send({0x31, 0x31});
    std::chrono::steady_clock::time_point lastByte;
    for (int i = 0; i < 15; ++i) {
        rig.port->feed({0x55});
        lastByte = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ASSERT_TRUE(rig.port->waitWrites(2));
    std::lock_guard<std::mutex> lk(rig.port->m);
    EXPECT_EQ(rig.port->writes[1], (Bytes{0x31, 0x31}));
    EXPECT_GE(rig.port->writeTimes[1], lastByte);
}

TEST(LinkWorker, StrayBytesAfterAnAcknowledgedAnswerLeaveItStanding) {
    // The validator had the acknowledge and let its data go: noise after it must not take the
    // answer with it, whether it comes at once or a few milliseconds later, marked or not.
    for (const Bytes& noise : {Bytes{0x00, 0xFE, 0x30, 0x92, 0x15, 0x84}, Bytes{0x07}}) {
        Rig rig;
        rig.start();
        rig.send({0x33, 0x33});
        ASSERT_TRUE(rig.port->waitWrites(1));
        rig.port->feed({0x82, 0x82});
        ASSERT_TRUE(rig.port->waitWrites(2)); // the acknowledge, once the line stayed quiet
        rig.port->feed(noise);
        ASSERT_TRUE(rig.notifier.waitCodes(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(rig.notifier.snapshot(), Bytes{RESP_POLL});
        std::lock_guard<std::mutex> lk(rig.notifier.m);
        ASSERT_EQ(rig.notifier.pollData.size(), 1u);
        EXPECT_EQ(rig.notifier.pollData[0][0], 0x82);
        EXPECT_EQ(rig.data.shortAnswer().length, 2u);
    }
}

TEST(LinkWorker, LineThatNeverFallsQuietHoldsAFrameForASecondAtMost) {
    Rig rig;
    rig.start();
    // Garbage every millisecond from a kernel timer: the line never falls quiet, however late
    // the test's threads run.
    rig.port->paceEndlessly(0xE5, std::chrono::milliseconds(1));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const auto t0 = std::chrono::steady_clock::now();
    rig.send({0x33, 0x33});
    EXPECT_TRUE(rig.port->waitWrites(1, 3000));
    const auto waited = std::chrono::steady_clock::now() - t0;
    rig.port->stopPacing();
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
    rig.link.closePort();
}

TEST(LinkWorker, NewFramePurgesAnAbandonedAnswer) {
    Rig rig;
    rig.start();
    rig.send({0x31, 0x31});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed(Bytes(10, 0x22)); // SETUP answer stops half-way
    std::this_thread::sleep_for(std::chrono::milliseconds(40));
    rig.send({0x31, 0x31}); // repeated after its time-out
    ASSERT_TRUE(rig.port->waitWrites(2));
    rig.port->feed(test::recordOf(28, 0x33));
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    const RecordBytes setup = rig.data.recordData(REQ_SETUP);
    EXPECT_EQ(setup[0], 0x33);
    EXPECT_EQ(setup[26], 0x33);
    rig.link.closePort();
}

TEST(LinkWorker, VanishedAdapterIsReportedOnceAndTheWorkerStops) {
    Rig rig;
    rig.start();
    rig.port->vanish();
    for (int i = 0; i < 200 && rig.link.workerRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(rig.link.workerRunning());
    EXPECT_EQ(rig.notifier.failures.load(), 1);
    // Frames placed afterwards stay in the slot: nothing spins, nothing is lost silently.
    rig.send({0x33, 0x33});
    EXPECT_TRUE(rig.data.slotBusy());
    rig.link.closePort();
    EXPECT_FALSE(rig.data.slotBusy());
}

TEST(LinkWorker, ClosingWhileTheWorkerWaitsForTheWindowDoesNotHang) {
    Rig rig;
    rig.notifier.block = true;
    rig.start();
    rig.send({0x33, 0x33});
    ASSERT_TRUE(rig.port->waitWrites(1));
    rig.port->feed({0x06, 0x06});
    ASSERT_TRUE(rig.notifier.waitCodes(1));
    const auto t0 = std::chrono::steady_clock::now();
    rig.link.closePort();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    EXPECT_FALSE(rig.port->dtr);
    EXPECT_FALSE(rig.link.workerRunning());
}

TEST(ComLinkLifecycle, FailedOpenLeavesNothingAndALaterOpenWorks) {
    Rig rig;
    rig.port->failOpen = true;
    EXPECT_FALSE(rig.link.open({.baud = 9600, .parity = Parity::Mark}));
    EXPECT_EQ(rig.link.info(), nullptr);
    EXPECT_FALSE(rig.link.openFault().detail.empty());
    rig.port->failOpen = false;
    EXPECT_TRUE(rig.link.open({.baud = 9600, .parity = Parity::Mark}));
    ASSERT_NE(rig.link.info(), nullptr);
    EXPECT_EQ(rig.link.info()->connected.load(), 1);
    rig.link.closePort();
    rig.link.closePort(); // harmless
    EXPECT_EQ(rig.link.info(), nullptr);
}

TEST(ComLinkLifecycle, PortNumberOutsideTheFourFails) {
    Rig rig;
    rig.link.setPortNumber(4);
    EXPECT_FALSE(rig.link.open({.baud = 9600, .parity = Parity::Mark}));
    EXPECT_EQ(rig.link.openFault().kind, FaultKind::NoPort);
    EXPECT_EQ(rig.port->opens, 0);
}
