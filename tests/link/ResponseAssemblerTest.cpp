// SPDX-License-Identifier: GPL-3.0-or-later
// How answers are assembled, completed and recorded in the traffic buffer.

#include "link/ResponseAssembler.h"
#include "link/LinkData.h"
#include "link/MarkedInput.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

using namespace norvex::link;

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Exchange {
    LinkData data;
    ResponseAssembler a{data};

    void send(Bytes frame) { a.frameSent(frame.data(), frame.size()); }
    // Feeds bytes until one completes; returns the completion and how many bytes were used.
    Completion receive(Bytes bytes, std::size_t* used = nullptr) {
        Completion c;
        std::size_t i = 0;
        for (; i < bytes.size() && !c.complete && !c.checksumFault; ++i)
            c = a.feed(bytes[i]);
        if (used) *used = i;
        return c;
    }
    // Bytes that arrive together, then the line stays quiet.
    Completion receiveThenQuiet(Bytes bytes, std::size_t* used = nullptr) {
        const Completion c = receive(std::move(bytes), used);
        return c.complete ? c : a.lineQuiet();
    }
    // Bytes in one read as a marking port delivers them: every one but the last marked.
    Completion receiveMarked(const Bytes& bytes) {
        Completion c;
        for (std::size_t i = 0; i < bytes.size() && !c.complete; ++i)
            c = a.feed(bytes[i], i + 1 < bytes.size());
        return c.complete ? c : a.endOfRead();
    }
    Bytes pollData(std::size_t n) const {
        const RecordBytes d = data.recordData(REQ_POLL);
        return Bytes(d.begin(), d.begin() + static_cast<long>(n));
    }
    std::uint32_t count(RequestKind k) { return data.reception().record(k).count; }
};

Bytes withChecksum(Bytes b) {
    unsigned sum = 0;
    for (auto x : b)
        sum += x;
    b.push_back(static_cast<std::uint8_t>(sum));
    return b;
}

const Bytes POLL{0x33, 0x33};

Bytes statsFrame() {
    return {0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xDD, 0x0B};
}

} // namespace

TEST(ShortAnswers, BareAckOrNakCompletesAtOnceWithoutAcknowledge) {
    for (std::uint8_t b : {0x00, 0xFF}) {
        Exchange x;
        x.send({0x33, 0x33});
        const Completion c = x.receive({b});
        EXPECT_TRUE(c.complete);
        EXPECT_FALSE(c.ack);
        EXPECT_EQ(c.code, RESP_POLL);
        EXPECT_EQ(x.data.recordData(REQ_POLL)[0], b);
        EXPECT_EQ(x.data.responseMode.load(), MODE_IDLE);
    }
}

TEST(ShortAnswers, ChecksumMatchEndsTheAnswerOnlyWhenTheLineStaysQuiet) {
    Exchange x;
    x.data.setState(REQ_POLL, RequestState::Requested);
    x.send(POLL);
    // 03 03: the second byte equals the sum so far, but the line has not fallen quiet yet.
    EXPECT_FALSE(x.receive({0x03, 0x03}).complete);
    EXPECT_TRUE(x.a.awaitingQuiet());
    // The 06 that follows makes it a status byte; the 06 matches in turn and the line stays quiet.
    EXPECT_FALSE(x.receive({0x06}).complete);
    const Completion c = x.a.lineQuiet();
    EXPECT_TRUE(c.complete);
    EXPECT_TRUE(c.ack);
    EXPECT_EQ(c.code, RESP_POLL);
    EXPECT_EQ(x.pollData(4), (Bytes{0x03, 0x03, 0x06, 0x00}));
    EXPECT_EQ(x.data.shortAnswer().length, 3);
    EXPECT_EQ(x.data.state(REQ_POLL), RequestState::Idle);
    EXPECT_EQ(x.data.responseMode.load(), MODE_IDLE);
    EXPECT_FALSE(x.a.lineQuiet().complete); // once

    // A byte that matches nothing leaves no answer to confirm.
    x.send(POLL);
    EXPECT_FALSE(x.receive({0x03, 0x00}).complete);
    EXPECT_FALSE(x.a.awaitingQuiet());
    EXPECT_FALSE(x.a.lineQuiet().complete);
}

TEST(ShortAnswers, AnswersWhosePartialSumsMatchAStatusByteAreDeliveredWhole) {
    // Two bills of type 0, two "busy", a later 00 or FF as the checksum.
    for (const Bytes& answer : {Bytes{0x80, 0x80, 0x00}, Bytes{0x03, 0x03, 0x06}, Bytes{0xC0, 0x40, 0x00},
                                Bytes{0xF5, 0x0A, 0xFF}}) {
        Exchange x;
        x.send(POLL);
        std::size_t used = 0;
        const Completion c = x.receiveThenQuiet(answer, &used);
        EXPECT_TRUE(c.complete && c.ack) << int(answer[0]);
        EXPECT_EQ(used, 3u);
        EXPECT_EQ(x.pollData(3), answer);
        EXPECT_EQ(x.data.shortAnswer().length, 3);
    }
}

TEST(ShortAnswers, AnyOneToSixteenStatusBytesAndTheirChecksumAreDeliveredWholeAndOnce) {
    std::mt19937 random(1302);
    for (int round = 0; round < 4000; ++round) {
        const std::size_t n = 1 + static_cast<std::size_t>(round % 16);
        Bytes status(n);
        // Repeated values make running sums that match later bytes common.
        const int range = round % 3 == 0 ? 4 : 256;
        for (auto& b : status)
            b = static_cast<std::uint8_t>(random() % static_cast<unsigned>(range));
        if (status[0] == 0x00 || status[0] == 0xFF) status[0] = 0x03; // a bare ACK or NAK otherwise
        const Bytes answer = withChecksum(status);

        Exchange x;
        x.send(POLL);
        Completion c;
        std::size_t i = 0;
        for (; i < answer.size() && !c.complete; ++i)
            c = x.a.feed(answer[i]);
        ASSERT_FALSE(c.complete) << "round " << round << " ended at byte " << i;
        c = x.a.lineQuiet();
        ASSERT_TRUE(c.complete && c.ack) << "round " << round;
        ASSERT_EQ(x.pollData(answer.size()), answer) << "round " << round;
        ASSERT_EQ(x.data.shortAnswer().length, answer.size());
        ASSERT_FALSE(x.a.lineQuiet().complete);
        ASSERT_FALSE(x.receive({0x00, 0x01}).complete); // what follows belongs to no answer
    }
}

TEST(ShortAnswers, NothingCompletesPastTheSeventeenthByte) {
    // Sixteen status bytes with a wrong checksum, then noise that contains the frozen sum.
    Bytes sixteen(16, 0x41);
    const std::uint8_t sum = static_cast<std::uint8_t>(16 * 0x41);
    {
        Exchange x;
        x.send(POLL);
        Bytes bytes = sixteen;
        bytes.push_back(static_cast<std::uint8_t>(sum + 1));
        for (std::uint8_t b : {sum, sum, std::uint8_t{0x00}, sum})
            bytes.push_back(b);
        EXPECT_FALSE(x.receiveThenQuiet(bytes).complete);
        EXPECT_EQ(x.count(REQ_POLL), 16u);
        const TrafficBuffer t = x.data.trafficSnapshot();
        EXPECT_EQ(t.sent[t.pos - 1u], TRAFFIC_EMPTY); // no acknowledge
    }
    {
        // The 17th byte is the checksum, but more bytes follow it: no answer.
        Exchange x;
        x.send(POLL);
        Bytes bytes = sixteen;
        bytes.push_back(sum);
        bytes.push_back(0x00);
        EXPECT_FALSE(x.receiveThenQuiet(bytes).complete);
    }
    {
        // ... and with nothing after it, it is one.
        Exchange x;
        x.send(POLL);
        Bytes bytes = sixteen;
        bytes.push_back(sum);
        EXPECT_TRUE(x.receiveThenQuiet(bytes).complete);
        EXPECT_EQ(x.data.shortAnswer().length, 17);
        EXPECT_EQ(x.pollData(17), bytes);
    }
    // Noise after a POLL, with the line pausing anywhere after the 17th byte.
    std::mt19937 random(17);
    for (int burst = 0; burst < 2000; ++burst) {
        Exchange x;
        x.send(POLL);
        const std::size_t length = 18 + random() % 60;
        Completion c;
        for (std::size_t i = 0; i < length && !c.complete; ++i) {
            // Any byte, but a first 00 or FF is a bare ACK or NAK.
            c = x.a.feed(static_cast<std::uint8_t>(i == 0 ? random() % 254 + 1 : random() % 256));
            if (!c.complete && i >= 17 && random() % 4 == 0) c = x.a.lineQuiet();
            if (c.complete) {
                ASSERT_LE(i, 16u) << "burst " << burst;
                break;
            }
        }
        ASSERT_LE(x.count(REQ_POLL), 16u);
    }
}

TEST(ShortAnswers, AnAnswerTheQuietLineEndedTooEarlyGoesOnWhenItsRestComes) {
    // The validator was held up after 80 80 for longer than the quiet window.
    Exchange x;
    x.send(POLL);
    const Completion early = x.receiveThenQuiet({0x80, 0x80});
    ASSERT_TRUE(early.complete && early.resumable && !early.byMark);
    ASSERT_TRUE(x.a.resumeEndedAnswer());
    EXPECT_EQ(x.data.responseMode.load(), MODE_SHORT);
    const Completion whole = x.receiveThenQuiet({0x03, 0x03, 0x06});
    EXPECT_TRUE(whole.complete && whole.ack);
    EXPECT_EQ(x.pollData(5), (Bytes{0x80, 0x80, 0x03, 0x03, 0x06}));
    EXPECT_EQ(x.data.shortAnswer().length, 5u);
    EXPECT_EQ(x.a.framing(), Framing::QuietLine);
    // Nothing to take up after a bare ACK, a record, or RESET in the menu.
    x.send(POLL);
    x.receive({0x00});
    EXPECT_FALSE(x.a.resumeEndedAnswer());
    x.send(POLL);
    x.receiveThenQuiet({0x06, 0x06});
    x.data.resetReception();
    EXPECT_FALSE(x.a.resumeEndedAnswer());
}

TEST(ShortAnswers, EveryShortFrameStartsTheRecordAfresh) {
    // An unfinished 90 91 must not join the ACK that answers the next ESCROW frame.
    Exchange x;
    x.send({0x33, 0x33});
    EXPECT_FALSE(x.receive({0x90, 0x91}).complete);
    x.send({0x35, 0x01, 0x36});
    const Completion c = x.receive({0x00});
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(x.pollData(2), (Bytes{0x00, 0x00}));

    // A match still waiting for the quiet line is abandoned with its answer, and so it is when
    // RESET in the menu clears the record under it: nothing is acknowledged.
    x.send({0x33, 0x33});
    EXPECT_FALSE(x.receive({0x06, 0x06}).complete);
    x.send({0x30, 0x30});
    EXPECT_FALSE(x.a.lineQuiet().complete);
    x.send({0x33, 0x33});
    EXPECT_FALSE(x.receive({0x06, 0x06}).complete);
    x.data.resetReception();
    EXPECT_FALSE(x.a.lineQuiet().complete);

    // RESET in the menu while 80 80 03 03 06 arrives: what is left of it is no answer (taken
    // afresh, 03 03 06 would be acknowledged and the two bills cleared unseen).
    x.send(POLL);
    EXPECT_FALSE(x.receive({0x80, 0x80}).complete);
    x.data.resetReception();
    EXPECT_FALSE(x.receiveThenQuiet({0x03, 0x03, 0x06}).complete);
    EXPECT_EQ(x.data.responseMode.load(), MODE_IDLE);
    // So for a record whose bytes RESET forgets.
    const Bytes setup = withChecksum(Bytes(27, 0x11));
    x.send({0x31, 0x31});
    EXPECT_FALSE(x.receive(Bytes(setup.begin(), setup.begin() + 10)).complete);
    x.data.resetReception();
    const Completion rest = x.receive(Bytes(setup.begin() + 10, setup.end()));
    EXPECT_FALSE(rest.complete || rest.checksumFault);
    // A RESET with no answer under way leaves the next one alone.
    x.data.resetReception();
    x.send(POLL);
    EXPECT_TRUE(x.receiveThenQuiet({0x03, 0x03}).complete);
}

TEST(FixedAnswers, ARecordIsTakenOnItsLastByteOnlyWhenItsChecksumFits) {
    struct Case {
        Bytes frame;
        std::size_t length;
        std::uint8_t code;
    };
    const Case cases[] = {
        {{0x31, 0x31}, SETUP_LENGTH, RESP_SETUP},
        {{0x36, 0x36}, STACKER_LENGTH, RESP_STACKER},
        {{0x37, 0x00, 0x37}, IDENT_LENGTH, RESP_IDENT},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE9, 0x17}, SENSORS_LENGTH, RESP_SENSORS},
        {{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, 0xE8, 0x16}, OPTICS_LENGTH, RESP_OPTICS},
        {statsFrame(), STATS_LENGTH, RESP_STATS},
    };
    for (const Case& k : cases) {
        // Zeros and FFs would end a short answer; a record ends by its length.
        Bytes good;
        for (std::size_t i = 0; i + 1 < k.length; ++i)
            good.push_back(static_cast<std::uint8_t>(i % 3 == 0 ? 0x00 : i % 3 == 1 ? 0xFF : i));
        good = withChecksum(good);
        Exchange x;
        x.send(k.frame);
        std::size_t used = 0;
        Completion c = x.receive(good, &used);
        EXPECT_TRUE(c.complete && c.ack && !c.checksumFault) << int(k.code);
        EXPECT_EQ(c.code, k.code);
        EXPECT_EQ(used, k.length);

        // One data byte hit on the line: the record ends where it would, but is not taken, and
        // what follows belongs to no answer.
        Bytes hit = good;
        hit[k.length / 2] ^= 0x80;
        hit.push_back(0x00);
        x.send(k.frame);
        c = x.receive(hit, &used);
        EXPECT_FALSE(c.complete) << int(k.code);
        EXPECT_FALSE(c.ack);
        EXPECT_TRUE(c.checksumFault);
        EXPECT_EQ(used, k.length);
        EXPECT_EQ(x.data.responseMode.load(), MODE_IDLE);
        EXPECT_FALSE(x.receive({0x00}).complete);
    }
}

TEST(FixedAnswers, StatisticsArriveInPiecesIntoTheDiagnosticBuffer) {
    Exchange x;
    x.send(statsFrame());
    for (int piece = 0; piece < 7; ++piece) {
        std::vector<std::uint8_t> bytes(10);
        for (int i = 0; i < 10; ++i)
            bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(piece * 10 + i);
        EXPECT_FALSE(x.receive(bytes).complete);
    }
    const Completion c = x.receive({70, 71, 0xFC}); // the sum of 0..71
    EXPECT_TRUE(c.complete);
    EXPECT_EQ(c.code, RESP_STATS);
    EXPECT_EQ(x.data.reception().diagCount(), 0u);
    const DiagBytes diag = x.data.diagData();
    EXPECT_EQ(diag[0], 0);
    EXPECT_EQ(diag[71], 71);
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
        // What the monitor's command line can type: SECURITY and feature enable are answered
        // with a bare ACK, whatever their seventh byte (the checksum) happens to be.
        {{0x32, 0x00, 0x00, 0x32}, MODE_SHORT},
        {{0x37, 0x01, 0x00, 0x00, 0x00, 0xB1, 0xE9}, MODE_SHORT},
        {{0x37, 0x01, 0x00, 0x00, 0x00, 0x00, 0x38}, MODE_SHORT},
        {{0x37, 0x02, 0x39}, MODE_IDLE},
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
    EXPECT_EQ(x.data.trafficSnapshot().sent[0], 0x31);
}

TEST(Traffic, PollAnsweredWithStatusLeavesTheExchangeByPosition) {
    Exchange x;
    x.send({0x33, 0x33});
    ASSERT_TRUE(x.receiveThenQuiet({0x03, 0x03}).complete);
    const TrafficBuffer t = x.data.trafficSnapshot();
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
    EXPECT_TRUE(c.checksumFault);
    EXPECT_EQ(used, 337u);

    Exchange y;
    y.send({0x33, 0x33});
    std::vector<std::uint8_t> endless(600, 0x01);
    endless[0] = 0x02;
    y.receive(endless);
    const TrafficBuffer t = y.data.trafficSnapshot();
    EXPECT_EQ(t.pos, TRAFFIC_SIZE);
    EXPECT_EQ(t.received[511], 0x01);
}

TEST(Traffic, BytesWithNoFrameOutstandingAreOnlyRecorded) {
    LinkData d;
    ResponseAssembler a(d);
    const Completion c = a.feed(0x06);
    EXPECT_FALSE(c.complete);
    EXPECT_EQ(d.trafficSnapshot().received[0], 0x06);
    EXPECT_EQ(d.reception().record(REQ_POLL).count, 0u);
}

TEST(MarkedInput, EscapesBecomeTheBytesOnTheWireWhereverTheReadsSplitThem) {
    // 41 flagged, FF, 80, FF flagged, 00 flagged (a break reads the same), 06.
    const Bytes delivered{0xFF, 0x00, 0x41, 0xFF, 0xFF, 0x80, 0xFF, 0x00, 0xFF, 0xFF, 0x00, 0x00, 0x06};
    const std::vector<LineByte> expected{{0x41, true}, {0xFF, false}, {0x80, false},
                                         {0xFF, true}, {0x00, true},  {0x06, false}};
    for (std::size_t cut1 = 0; cut1 <= delivered.size(); ++cut1) {
        for (std::size_t cut2 = cut1; cut2 <= delivered.size(); ++cut2) {
            MarkedInput in;
            std::vector<LineByte> out(delivered.size());
            std::size_t n = in.decode(delivered.data(), cut1, out.data());
            n += in.decode(delivered.data() + cut1, cut2 - cut1, out.data() + n);
            n += in.decode(delivered.data() + cut2, delivered.size() - cut2, out.data() + n);
            ASSERT_EQ(n, expected.size()) << cut1 << "/" << cut2;
            for (std::size_t i = 0; i < n; ++i) {
                ASSERT_EQ(out[i].value, expected[i].value) << cut1 << "/" << cut2 << " byte " << i;
                ASSERT_EQ(out[i].marked, expected[i].marked) << cut1 << "/" << cut2 << " byte " << i;
            }
            EXPECT_FALSE(in.midEscape());
        }
    }
    // A purge forgets half an escape; an FF followed by anything else is kept as a byte.
    MarkedInput in;
    std::vector<LineByte> out(4);
    const std::uint8_t half[] = {0xFF};
    EXPECT_EQ(in.decode(half, 1, out.data()), 0u);
    EXPECT_TRUE(in.midEscape());
    in.reset();
    const std::uint8_t odd[] = {0x06, 0xFF, 0x12};
    ASSERT_EQ(in.decode(odd, 3, out.data()), 3u);
    EXPECT_EQ(out[1].value, 0xFF);
    EXPECT_EQ(out[2].value, 0x12);
    EXPECT_FALSE(out[2].marked);
}

TEST(MarkedAnswers, MarksThatAgreeFrameAnswersWithoutWaitingFfAndMatchingStatusBytesIncluded) {
    Exchange x;
    EXPECT_EQ(x.a.framing(), Framing::QuietLine);
    // The first answer with marks is framed by the quiet line; its marks agree.
    x.send(POLL);
    EXPECT_FALSE(x.receiveMarked({0x06, 0x06}).complete);
    EXPECT_TRUE(x.a.lineQuiet().complete);
    EXPECT_EQ(x.a.framing(), Framing::ModeBit);
    // From now on the unmarked checksum ends the answer at once; a marked byte that matches the
    // sum is a status byte.
    for (const Bytes& answer : {Bytes{0x80, 0x80, 0x00}, Bytes{0x03, 0x03, 0x06}, Bytes{0xF5, 0x0A, 0xFF},
                                Bytes{0x01, 0xFF, 0x00}, withChecksum(Bytes(16, 0x10))}) {
        x.send(POLL);
        const Completion c = x.receiveMarked(answer);
        EXPECT_TRUE(c.complete && c.ack) << int(answer[0]);
        EXPECT_FALSE(x.a.awaitingQuiet());
        EXPECT_EQ(x.pollData(answer.size()), answer);
        EXPECT_EQ(x.data.shortAnswer().length, answer.size());
    }
    EXPECT_EQ(x.a.framing(), Framing::ModeBit);
    // A long record with its marks keeps the framing.
    x.send({0x31, 0x31});
    EXPECT_TRUE(x.receiveMarked(withChecksum(Bytes(27, 0x11))).complete);
    EXPECT_EQ(x.a.framing(), Framing::ModeBit);
}

TEST(MarkedAnswers, MarksThatContradictTheChecksumFallBackToTheQuietLineForThePort) {
    // Flags per USB packet: the checksum shares a packet with a status byte and comes marked.
    Exchange x;
    x.send({0x31, 0x31});
    EXPECT_TRUE(x.receiveMarked(withChecksum(Bytes(27, 0x11))).complete); // SETUP: the marks agree
    ASSERT_EQ(x.a.framing(), Framing::ModeBit);
    x.send(POLL);
    EXPECT_FALSE(x.a.feed(0x81, true).complete);
    EXPECT_FALSE(x.a.feed(0x81, true).complete);
    EXPECT_TRUE(x.a.awaitingQuiet());
    EXPECT_EQ(x.a.framing(), Framing::ModeBit);
    // By its mark the answer goes on, yet nothing comes: not acknowledged, the validator repeats.
    EXPECT_FALSE(x.a.lineQuiet().complete);
    EXPECT_EQ(x.a.framing(), Framing::MarksUnreliable);
    x.send(POLL);
    EXPECT_FALSE(x.receiveMarked({0x81, 0x81}).complete); // agreeing marks no longer count
    EXPECT_TRUE(x.a.lineQuiet().complete);
    EXPECT_EQ(x.a.framing(), Framing::MarksUnreliable);

    // An unmarked byte that matches but has bytes after it in the same read was no checksum.
    Exchange z;
    z.send(POLL);
    z.receiveMarked({0x06, 0x06});
    ASSERT_TRUE(z.a.lineQuiet().complete);
    ASSERT_EQ(z.a.framing(), Framing::ModeBit);
    z.send(POLL);
    z.a.feed(0x03, true);
    z.a.feed(0x03, false);
    z.a.feed(0x06, false);
    EXPECT_FALSE(z.a.endOfRead().complete);
    EXPECT_EQ(z.a.framing(), Framing::MarksUnreliable);
    EXPECT_TRUE(z.a.lineQuiet().complete);
    EXPECT_EQ(z.pollData(3), (Bytes{0x03, 0x03, 0x06}));

    // Marks that disagree from the start never frame anything.
    Exchange y;
    y.send(POLL);
    y.a.feed(0x80, false);
    y.a.feed(0x80, true);
    y.a.feed(0x00, false);
    EXPECT_TRUE(y.a.lineQuiet().complete);
    EXPECT_EQ(y.a.framing(), Framing::MarksUnreliable);
    EXPECT_EQ(y.pollData(3), (Bytes{0x80, 0x80, 0x00}));
}

TEST(MarkedAnswers, PortThatStopsMarkingLosesNoByte) {
    Exchange x;
    x.send(POLL);
    x.receiveMarked({0x06, 0x06});
    ASSERT_TRUE(x.a.lineQuiet().complete);
    ASSERT_EQ(x.a.framing(), Framing::ModeBit);
    // No marks any more: the first unmarked byte cannot end an answer, and the second shows that
    // it did not.
    x.send(POLL);
    EXPECT_FALSE(x.receive({0x80, 0x80, 0x00}).complete);
    EXPECT_EQ(x.a.framing(), Framing::MarksUnreliable);
    const Completion c = x.a.lineQuiet();
    EXPECT_TRUE(c.complete && c.ack);
    EXPECT_EQ(x.pollData(3), (Bytes{0x80, 0x80, 0x00}));
    // Marks that stop inside an answer: an unmarked byte equal to the sum ends it by its mark,
    // but bytes still come before the next frame, so the marks frame nothing more on this port.
    Exchange z;
    z.send(POLL);
    z.receiveMarked({0x06, 0x06});
    ASSERT_TRUE(z.a.lineQuiet().complete);
    auto endEarly = [](Exchange& e) {
        e.send(POLL);
        e.a.feed(0x80, true);
        e.a.feed(0x80, false);
        const Completion early = e.a.endOfRead();
        EXPECT_TRUE(early.complete && early.byMark);
    };
    endEarly(z);
    ASSERT_EQ(z.a.framing(), Framing::ModeBit);
    // While the worker still holds that ending back, the answer is taken up again.
    ASSERT_TRUE(z.a.resumeEndedAnswer());
    EXPECT_EQ(z.a.framing(), Framing::MarksUnreliable);
    EXPECT_FALSE(z.receive({0x03, 0x03, 0x06}).complete);
    EXPECT_TRUE(z.a.lineQuiet().complete);
    EXPECT_EQ(z.pollData(5), (Bytes{0x80, 0x80, 0x03, 0x03, 0x06}));
    EXPECT_EQ(z.data.shortAnswer().length, 5u);
    z.send(POLL);
    EXPECT_FALSE(z.a.resumeEndedAnswer()); // a frame went out since
    // Once it has been handed on, what follows is stray, and still shows the marks wrong.
    Exchange w;
    w.send(POLL);
    w.receiveMarked({0x06, 0x06});
    ASSERT_TRUE(w.a.lineQuiet().complete);
    endEarly(w);
    w.receive({0x03, 0x03, 0x06});
    EXPECT_EQ(w.a.framing(), Framing::MarksUnreliable);
    w.send(POLL);
    EXPECT_FALSE(w.a.resumeEndedAnswer());
    // A port that never marks keeps the quiet line without calling anything a contradiction.
    Exchange y;
    y.send(POLL);
    EXPECT_TRUE(y.receiveThenQuiet({0x80, 0x80, 0x00}).complete);
    EXPECT_EQ(y.a.framing(), Framing::QuietLine);
}
