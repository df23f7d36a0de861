// How answers are assembled, completed and recorded in the traffic buffer.

#include "link/LinkData.h"
#include "link/ResponseAssembler.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvex::link;

namespace {

struct Exchange {
    LinkData data;
    ResponseAssembler a{data};

    void send(std::vector<std::uint8_t> frame) { a.frameSent(frame.data(), frame.size()); }
    // Feeds bytes until one completes; returns the completion and how many bytes were used.
    Completion receive(std::vector<std::uint8_t> bytes, std::size_t* used = nullptr) {
        Completion c;
        std::size_t i = 0;
        for (; i < bytes.size() && !c.complete; ++i) c = a.feed(bytes[i]);
        if (used) *used = i;
        return c;
    }
};

std::vector<std::uint8_t> statsFrame() { return {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B}; }

} // namespace

TEST(ShortAnswers, BareAckOrNakCompletesAtOnceWithoutAcknowledge) {
    for (std::uint8_t b : {0x00, 0xFF}) {
        Exchange x;
        x.send({0x33, 0x33});
        const Completion c = x.receive({b});
        EXPECT_TRUE(c.complete);
        EXPECT_FALSE(c.ack);
        EXPECT_EQ(c.code, RESP_POLL);
        EXPECT_EQ(x.data.record(REQ_POLL).data[0], b);
        EXPECT_EQ(x.data.responseMode.load(), MODE_IDLE);
    }
}

TEST(ShortAnswers, StatusAnswerCompletesOnItsChecksumAndExtraBytesAreLeft) {
    Exchange x;
    x.data.setState(REQ_POLL, STATE_REQUESTED);
    x.send({0x33, 0x33});
    std::size_t used = 0;
    const Completion c = x.receive({0x03, 0x03, 0x06}, &used);
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);
    EXPECT_EQ(used, 2u);
    EXPECT_EQ(x.data.state(REQ_POLL), STATE_IDLE);
    EXPECT_EQ(x.data.record(REQ_POLL).data[0], 0x03);
    EXPECT_EQ(x.data.record(REQ_POLL).data[1], 0x03);
    EXPECT_EQ(x.data.record(REQ_POLL).data[2], 0x00);
}

TEST(ShortAnswers, LaterZeroOrFfIsAChecksumNotAnAckOrNak) {
    Exchange x;
    x.send({0x33, 0x33});
    Completion c = x.receive({0xC0, 0x40, 0x00});
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);
    EXPECT_EQ(x.data.record(REQ_POLL).data[2], 0x00);

    x.send({0x33, 0x33});
    c = x.receive({0xF5, 0x0A, 0xFF});
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);

    // A later 00 that is not the checksum does not end the answer.
    x.send({0x33, 0x33});
    c = x.receive({0x03, 0x00});
    EXPECT_FALSE(c.complete);
}

TEST(ShortAnswers, SixteenStatusBytesCompleteWithTheirChecksum) {
    Exchange x;
    x.send({0x33, 0x33});
    // Sixteen status bytes none of which equals the running sum before it.
    std::vector<std::uint8_t> answer;
    unsigned sum = 0;
    while (answer.size() < 16) {
        std::uint8_t b = 0x05;
        while (b == static_cast<std::uint8_t>(sum)) ++b;
        answer.push_back(b);
        sum += b;
    }
    answer.push_back(static_cast<std::uint8_t>(sum));
    std::size_t used = 0;
    const Completion c = x.receive(answer, &used);
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);
    EXPECT_EQ(used, 17u);
}

TEST(ShortAnswers, BadChecksumNeverCompletesPastSixteenBytes) {
    Exchange x;
    x.send({0x33, 0x33});
    std::vector<std::uint8_t> junk(30, 0x01);
    junk[0] = 0x02; // 02 01 01 ...: the running sum never equals 01 again after the start
    const Completion c = x.receive(junk);
    EXPECT_FALSE(c.complete);
    EXPECT_EQ(x.data.record(REQ_POLL).count, 16u);
}

TEST(ShortAnswers, EveryShortFrameStartsTheRecordAfresh) {
    // An unfinished 90 91 must not join the ACK that answers the next ESCROW frame.
    Exchange x;
    x.send({0x33, 0x33});
    EXPECT_FALSE(x.receive({0x90, 0x91}).complete);
    x.send({0x35, 0x01, 0x36});
    const Completion c = x.receive({0x00});
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(x.data.record(REQ_POLL).data[0], 0x00);
    EXPECT_EQ(x.data.record(REQ_POLL).data[1], 0x00);
}

TEST(FixedAnswers, SetupCompletesOnItsTwentyEighthByteWhateverItsValue) {
    Exchange x;
    x.data.record(REQ_SETUP).elapsedMs = 40;
    x.send({0x31, 0x31});
    EXPECT_EQ(x.data.record(REQ_SETUP).elapsedMs.load(), 0u);
    std::vector<std::uint8_t> answer(27, 0x00); // zeros would end a short answer
    EXPECT_FALSE(x.receive(answer).complete);
    const Completion c = x.receive({0x77});
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);
    EXPECT_EQ(c.code, RESP_SETUP);
    EXPECT_EQ(x.data.record(REQ_SETUP).data[27], 0x77);
    EXPECT_EQ(x.data.record(REQ_SETUP).count, 0u);
}

TEST(FixedAnswers, StatisticsArriveInPiecesIntoTheDiagnosticBuffer) {
    Exchange x;
    x.send(statsFrame());
    for (int piece = 0; piece < 7; ++piece) {
        std::vector<std::uint8_t> bytes(10);
        for (int i = 0; i < 10; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(piece * 10 + i);
        EXPECT_FALSE(x.receive(bytes).complete);
    }
    const Completion c = x.receive({70, 71, 72});
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(c.code, RESP_STATS);
    EXPECT_EQ(x.data.diagCount, 0u);
    EXPECT_EQ(x.data.diag[0], 0);
    EXPECT_EQ(x.data.diag[72], 72);
}

TEST(FixedAnswers, EachFrameSelectsItsKind) {
    struct Case {
        std::vector<std::uint8_t> frame;
        ResponseMode mode;
    };
    const Case cases[] = {
        {{0x30, 0x30}, MODE_SHORT},
        {{0x31, 0x31}, MODE_SETUP},
        {{0x36, 0x36}, MODE_STACKER},
        {{0x37, 0x00, 0x37}, MODE_IDENT},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE9, 0x17}, MODE_SENSORS},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE8, 0x16}, MODE_OPTICS},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE7, 0x15}, MODE_VIDEO},
        {statsFrame(), MODE_STATS},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0x32, 0x60}, MODE_SHORT},
    };
    for (const auto& c : cases) {
        Exchange x;
        x.send(c.frame);
        EXPECT_EQ(x.data.responseMode.load(), c.mode) << int(c.frame[0]);
    }
    // The ACK leaves the kind and the traffic alone.
    Exchange x;
    x.send({0x31, 0x31});
    x.send({0x00});
    EXPECT_EQ(x.data.responseMode.load(), MODE_SETUP);
    EXPECT_EQ(x.data.traffic.sent[0], 0x31);
}

TEST(Traffic, PollAnsweredWithStatusLeavesTheExchangeByPosition) {
    Exchange x;
    x.send({0x33, 0x33});
    ASSERT_TRUE(x.receive({0x03, 0x03}).complete);
    const TrafficBuffer& t = x.data.traffic;
    EXPECT_EQ(t.sent[0], 0x33);
    EXPECT_EQ(t.sent[1], 0x33);
    EXPECT_EQ(t.received[2], 0x03);
    EXPECT_EQ(t.received[3], 0x03);
    EXPECT_EQ(t.sent[3], 0x0000); // the acknowledge
    EXPECT_EQ(t.pos, 0u);
    for (std::size_t i = 0; i < TRAFFIC_SIZE; ++i) {
        if (i != 0 && i != 1 && i != 3) {
            EXPECT_EQ(t.sent[i], TRAFFIC_EMPTY) << i;
        }
        if (i != 2 && i != 3) {
            EXPECT_EQ(t.received[i], TRAFFIC_EMPTY) << i;
        }
    }
}

TEST(Traffic, LongExchangesStillAssembleButStopRecordingAt512) {
    Exchange x;
    x.send({0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE8, 0x16});
    std::vector<std::uint8_t> junkThenOptics(600, 0xAA);
    // Bytes before the optics answer do not exist on a real bus; here 600 bytes arrive and the
    // 337th completes.
    std::size_t used = 0;
    const Completion c = x.receive(junkThenOptics, &used);
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(used, 337u);

    Exchange y;
    y.send({0x33, 0x33});
    std::vector<std::uint8_t> endless(600, 0x01);
    endless[0] = 0x02;
    y.receive(endless);
    EXPECT_EQ(y.data.traffic.pos, TRAFFIC_SIZE);
    EXPECT_EQ(y.data.traffic.received[511], 0x01);
}

TEST(Traffic, BytesWithNoFrameOutstandingAreOnlyRecorded) {
    LinkData d;
    ResponseAssembler a(d);
    const Completion c = a.feed(0x06);
    EXPECT_FALSE(c.complete);
    EXPECT_EQ(d.traffic.received[0], 0x06);
    EXPECT_EQ(d.record(REQ_POLL).count, 0u);
}
