// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Validator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

using namespace norvex::sim;

namespace {

// Plays the controller against the validator core: frames go through the frame parser, the
// clock is explicit, and every data answer is acknowledged only when the test says so.
class Controller {
public:
    explicit Controller(Validator::Config config = {}) : v(config) {}

    Bytes send(Bytes frame) {
        t += 100000;
        Bytes answer;
        for (const auto& item : parser.feed(frame, t)) {
            if (auto tx = v.onItem(item, t)) {
                answer = tx->bytes;
                v.onSent(t);
            }
        }
        return answer;
    }
    void ack(std::int64_t afterUs = 500) {
        t += afterUs;
        v.tick(t);
        for (const auto& item : parser.feed(Bytes{0x00}, t))
            v.onItem(item, t);
    }
    Bytes poll() { return send({0x33, 0x33}); }
    Bytes pollAndAck() {
        Bytes b = poll();
        if (b.size() > 1) ack();
        return b;
    }
    void enable(std::uint8_t e1, std::uint8_t e0, std::uint8_t s1, std::uint8_t s0) {
        Bytes f{0x34, e1, e0, s1, s0};
        appendChecksum(f);
        EXPECT_EQ(send(f), Bytes{0x00});
    }
    bool logHas(const std::string& text) {
        for (auto& l : v.takeLog())
            seen.push_back(l);
        return std::any_of(seen.begin(), seen.end(),
                           [&](auto& l) { return l.find(text) != std::string::npos; });
    }

    Validator v;
    FrameParser parser;
    std::int64_t t = 0;
    std::vector<std::string> seen;
};

Bytes diag(std::uint8_t fn) {
    Bytes f{0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, fn};
    appendChecksum(f);
    return f;
}

bool endsOnChecksum(const Bytes& b) {
    return !b.empty() && mdbChecksum(std::span<const std::uint8_t>(b).first(b.size() - 1)) == b.back();
}

} // namespace

TEST(SimValidator, StartUpExchangeAnswersAsARealValidator) {
    Controller c;
    EXPECT_EQ(c.send({0x30, 0x30}), Bytes{0x00});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x06, 0x06}));
    EXPECT_EQ(c.pollAndAck(), Bytes{0x00});

    const Bytes setup = c.send({0x31, 0x31});
    ASSERT_EQ(setup.size(), 28u);
    EXPECT_TRUE(endsOnChecksum(setup));
    EXPECT_EQ(setup[0], 0x01);
    EXPECT_EQ((Bytes(setup.begin() + 11, setup.begin() + 18)), (Bytes{1, 2, 5, 10, 20, 50, 100}));
    EXPECT_TRUE(std::all_of(setup.begin() + 18, setup.begin() + 27, [](auto b) { return b == 0; }));
    c.ack();

    const Bytes ident = c.send({0x37, 0x00, 0x37});
    ASSERT_EQ(ident.size(), 30u);
    EXPECT_TRUE(endsOnChecksum(ident));
    EXPECT_EQ(std::string(ident.begin(), ident.begin() + 3), "VNT");
    EXPECT_EQ(std::string(ident.begin() + 15, ident.begin() + 23), "BV2.14-7");
    c.ack();

    c.enable(0x00, 0x7F, 0x00, 0x7F);
    EXPECT_EQ(c.v.billMask(), 0x007F007Fu);
    EXPECT_TRUE(c.logHas("\"dir\":\"rx\",\"frame\":\"34 00 7F 00 7F 32\",\"kind\":\"billtype\""));
}

TEST(SimValidator, EscrowedBillIsStackedOrReturnedAndCounted) {
    Controller c;
    c.enable(0xFF, 0xFF, 0xFF, 0xFF);
    c.pollAndAck(); // power-up reset
    const auto accepted = c.v.records().billsAccepted[1];
    const auto stacked = c.v.records().stackerCount;

    EXPECT_EQ(c.v.insertBill(1, EscrowChoice::ByMask), "ok");
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x91, 0x91}));
    EXPECT_EQ(c.v.insertBill(2, EscrowChoice::ByMask), "a bill is held in escrow");
    EXPECT_EQ(c.send({0x35, 0x01, 0x36}), Bytes{0x00});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x81, 0x81}));
    EXPECT_EQ(c.v.records().billsAccepted[1], accepted + 1);
    EXPECT_EQ(c.v.records().stackerCount, stacked + 1);

    const auto returned = c.v.records().eventCount[17];
    c.v.insertBill(2, EscrowChoice::ByMask);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x92, 0x92}));
    EXPECT_EQ(c.send({0x35, 0x00, 0x35}), Bytes{0x00});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0xA2, 0xA2}));
    EXPECT_EQ(c.v.records().eventCount[17], returned + 1);

    // Nothing held: invalid escrow request.
    EXPECT_EQ(c.send({0x35, 0x01, 0x36}), Bytes{0x00});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x0A, 0x0A}));
}

TEST(SimValidator, RoutesABillByMaskAndEscrowChoice) {
    Controller c;
    c.pollAndAck();
    c.enable(0x00, 0xFF, 0x00, 0x01); // types 0-7 enabled, escrow for type 0 only
    const auto disabledEntries = c.v.records().eventCount[2];
    const auto opticalFails = c.v.records().eventCount[1];

    c.v.insertBill(3, EscrowChoice::ByMask);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x83, 0x83}));
    c.v.insertBill(9, EscrowChoice::ByMask);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0xC9, 0xC9}));
    EXPECT_EQ(c.v.records().eventCount[2], disabledEntries + 1);
    c.v.insertBill(0, EscrowChoice::NoEscrow);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x80, 0x80}));
    c.v.insertBill(4, EscrowChoice::Escrow);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x94, 0x94}));
    c.send({0x35, 0x00, 0x35});
    c.pollAndAck();
    c.v.insertCoupon();
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x0B, 0x0B}));
    EXPECT_EQ(c.v.records().eventCount[1], opticalFails + 1);
}

TEST(SimValidator, ResetForgetsQueueMaskAndEscrowAndReportsItself) {
    Controller c;
    c.enable(0xFF, 0xFF, 0xFF, 0xFF);
    c.v.insertBill(5, EscrowChoice::Escrow);
    c.v.queueStatus({0x03});
    EXPECT_EQ(c.send({0x30, 0x30}), Bytes{0x00});
    EXPECT_EQ(c.v.billMask(), 0u);
    EXPECT_EQ(c.v.escrowedType(), -1);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x06, 0x06}));
    EXPECT_EQ(c.pollAndAck(), Bytes{0x00});
}

TEST(SimValidator, PollAnswerCarriesAtMostSixteenStatusBytesAndTheirChecksum) {
    Validator::Config cfg;
    cfg.batch = PollBatch::Max;
    Controller c(cfg);
    c.pollAndAck();
    Bytes statuses;
    for (std::uint8_t i = 0; i < 20; ++i)
        statuses.push_back(static_cast<std::uint8_t>(0x41 + i));
    c.v.queueStatus(statuses);
    Bytes first = c.pollAndAck();
    ASSERT_EQ(first.size(), 17u);
    EXPECT_TRUE(endsOnChecksum(first));
    EXPECT_EQ(Bytes(first.begin(), first.end() - 1), Bytes(statuses.begin(), statuses.begin() + 16));
    Bytes second = c.pollAndAck();
    EXPECT_EQ(second, (Bytes{0x51, 0x52, 0x53, 0x54, static_cast<std::uint8_t>(0x51 + 0x52 + 0x53 + 0x54)}));
}

TEST(SimValidator, PollAnswersCarryEveryQueuedStatusWhateverItsSums) {
    Controller c;
    c.pollAndAck();
    c.v.queueStatus({0x80, 0x80});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x80, 0x80, 0x00}));
    c.v.queueStatus({0x03, 0x03});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x03, 0x03, 0x06}));
    c.v.queueStatus({0xF5, 0x0A});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0xF5, 0x0A, 0xFF}));
    EXPECT_EQ(c.pollAndAck(), Bytes{0x00});
}

TEST(SimValidator, SafeBatchesNeverOfferAnEarlyChecksumOrAChecksumOfAckOrNak) {
    Validator::Config safe;
    safe.batch = PollBatch::Safe;
    Controller c(safe);
    c.pollAndAck();
    c.v.queueStatus({0x90, 0x03});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x90, 0x03, 0x93}));
    // 03 03 06: the second 03 equals the running sum and would end the answer early.
    c.v.queueStatus({0x03, 0x03});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x03, 0x03}));
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x03, 0x03}));
    // 80 80 would carry the checksum 00, which reads as an acknowledge.
    c.v.queueStatus({0x80, 0x80});
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x80, 0x80}));
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x80, 0x80}));
    EXPECT_EQ(c.pollAndAck(), Bytes{0x00});
}

TEST(SimValidator, UnacknowledgedPollAnswerIsSentAgainWithoutLossOrDuplication) {
    Controller c;
    c.pollAndAck();
    c.v.queueStatus({0x03});
    EXPECT_EQ(c.poll(), (Bytes{0x03, 0x03}));
    c.t += 6000; // past the 5 ms window
    c.v.tick(c.t);
    EXPECT_TRUE(c.logHas("\"ack\":\"timeout\",\"kind\":\"poll\""));
    c.v.queueStatus({0x09});
    EXPECT_EQ(c.poll(), (Bytes{0x03, 0x03})); // the same data, not the newer event
    c.ack(20000);                             // too late: does not count
    EXPECT_TRUE(c.logHas("\"kind\":\"poll\",\"late\":true"));
    EXPECT_EQ(c.poll(), (Bytes{0x03, 0x03}));
    c.ack(1200);
    EXPECT_TRUE(c.logHas("\"ack_ms\":1.200,\"kind\":\"poll\""));
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x09, 0x09}));
    EXPECT_EQ(c.pollAndAck(), Bytes{0x00});
}

TEST(SimValidator, DiagnosticsRecordsHaveTheirLengthsAndChecksums) {
    Controller c;
    const std::pair<std::uint8_t, std::size_t> records[] = {{0xE9, 28}, {0xE8, 337}, {0xE7, 281}, {0xDD, 73}};
    for (auto [fn, length] : records) {
        const Bytes answer = c.send(diag(fn));
        EXPECT_EQ(answer.size(), length) << std::hex << int(fn);
        EXPECT_TRUE(endsOnChecksum(answer)) << std::hex << int(fn);
        c.ack();
    }
    const Bytes stacker = c.send({0x36, 0x36});
    ASSERT_EQ(stacker.size(), 3u);
    EXPECT_TRUE(endsOnChecksum(stacker));

    // Statistics: little-endian counters, bills then events; erase answers ACK and zeroes them.
    c.v.records().billsAccepted[0] = 0x1234;
    c.v.records().eventCount[19] = 0xBEEF;
    Bytes stats = c.send(diag(0xDD));
    EXPECT_EQ(stats[0], 0x34);
    EXPECT_EQ(stats[1], 0x12);
    EXPECT_EQ(stats[70], 0xEF);
    EXPECT_EQ(stats[71], 0xBE);
    EXPECT_EQ(c.send(diag(0x32)), Bytes{0x00});
    stats = c.send(diag(0xDD));
    EXPECT_TRUE(std::all_of(stats.begin(), stats.end(), [](auto b) { return b == 0; }));

    // Another maker's code or an unknown function gets no answer.
    EXPECT_TRUE(c.send({0x37, 0xFF, 0x41, 0x42, 0x43, 0x00, 0xDD, 0x31}).empty());
    EXPECT_TRUE(c.send(diag(0x10)).empty());
}

TEST(SimValidator, FailureModesChangeTheNamedAnswersTheGivenNumberOfTimes) {
    Controller c;
    c.pollAndAck();
    Failure silent;
    silent.mode = FailMode::Silent;
    c.v.failures().add("poll", silent, 2);
    c.v.queueStatus({0x03});
    EXPECT_TRUE(c.poll().empty());
    EXPECT_TRUE(c.poll().empty());
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x03, 0x03})); // the event survived the silence

    Failure bad;
    bad.mode = FailMode::BadSum;
    c.v.failures().add("setup", bad, FailurePlan::ALWAYS);
    for (int i = 0; i < 2; ++i) {
        const Bytes setup = c.send({0x31, 0x31});
        ASSERT_EQ(setup.size(), 28u);
        EXPECT_FALSE(endsOnChecksum(setup));
    }
    c.v.failures().clear();
    EXPECT_TRUE(endsOnChecksum(c.send({0x31, 0x31})));

    Failure nak;
    nak.mode = FailMode::Nak;
    c.v.failures().add("any", nak, 1);
    EXPECT_EQ(c.send({0x36, 0x36}), Bytes{0xFF});
}

TEST(SimValidator, NoiseTakesThePlaceOfAnAnswerOrFollowsItAndTheDataWaitsForTheNextPoll) {
    Controller c;
    c.pollAndAck();
    c.v.queueStatus({0x81});
    Failure noise;
    noise.mode = FailMode::Noise;
    noise.garbageBytes = 40;
    noise.at = Placement::Instead;
    c.v.failures().add("poll", noise, 1);
    std::optional<Transmission> tx;
    c.t += 100000;
    for (const auto& item : c.parser.feed(Bytes{0x33, 0x33}, c.t))
        tx = c.v.onItem(item, c.t);
    ASSERT_TRUE(tx);
    ASSERT_EQ(tx->bytes.size(), 40u);
    EXPECT_NE(tx->bytes[0], 0x00); // no bare ACK or NAK to start with
    EXPECT_NE(tx->bytes[0], 0xFF);
    EXPECT_EQ(tx->modeBits.size(), 40u);
    EXPECT_FALSE(tx->expectsAck);
    EXPECT_NE(std::count(tx->modeBits.begin(), tx->modeBits.end(), 1), 0);
    EXPECT_NE(std::count(tx->modeBits.begin(), tx->modeBits.end(), 0), 0);
    c.ack(); // acknowledges nothing
    EXPECT_TRUE(c.logHas("unexpected_ack"));
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x81, 0x81}));

    // After the answer: the answer is not acknowledged (the noise ran on), so it comes again.
    noise.at = Placement::After;
    noise.garbageBytes = 5;
    noise.gapMs = 2;
    c.v.failures().add("poll", noise, 1);
    c.v.queueStatus({0x03, 0x03});
    c.t += 100000;
    for (const auto& item : c.parser.feed(Bytes{0x33, 0x33}, c.t))
        tx = c.v.onItem(item, c.t);
    ASSERT_TRUE(tx);
    ASSERT_EQ(tx->bytes.size(), 8u);
    EXPECT_EQ(Bytes(tx->bytes.begin(), tx->bytes.begin() + 3), (Bytes{0x03, 0x03, 0x06}));
    EXPECT_EQ(tx->modeBits[2], 1);
    EXPECT_EQ(tx->gapBefore, 3u);
    EXPECT_TRUE(tx->expectsAck);
    c.v.onSent(c.t);
    c.t += 6000;
    c.v.tick(c.t);
    EXPECT_EQ(c.pollAndAck(), (Bytes{0x03, 0x03, 0x06}));

    // A seed repeats its sequence.
    FailurePlan a, b;
    Bytes bitsA, bitsB;
    EXPECT_EQ(a.noise(20, bitsA), b.noise(20, bitsB));
    EXPECT_EQ(bitsA, bitsB);
}

TEST(SimWire, MarkedFormIsWhatADriverDeliversUnderTheClientsInputFlags) {
    const InputFlags marking{true, false, true}, zeroing{true, false, false}, ignoring{true, true, true},
        unchecked{false, false, true};
    EXPECT_EQ(deliveredForm(0x80, false, marking), (Bytes{0xFF, 0x00, 0x80}));
    EXPECT_EQ(deliveredForm(0xFF, false, marking), (Bytes{0xFF, 0x00, 0xFF}));
    EXPECT_EQ(deliveredForm(0xFF, true, marking), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(deliveredForm(0x06, true, marking), (Bytes{0x06}));
    EXPECT_EQ(deliveredForm(0x80, false, zeroing), (Bytes{0x00}));
    EXPECT_TRUE(deliveredForm(0x80, false, ignoring).empty());
    EXPECT_EQ(deliveredForm(0x80, false, unchecked), (Bytes{0x80}));
    EXPECT_EQ(deliveredForm(0xFF, false, unchecked), (Bytes{0xFF, 0xFF}));
    EXPECT_EQ(deliveredForm(0xFF, true, InputFlags{}), (Bytes{0xFF}));
}
