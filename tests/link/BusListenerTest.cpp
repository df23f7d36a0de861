// SPDX-License-Identifier: GPL-3.0-or-later
// Listening to both lines of a machine's bus: a bus played byte by byte at 9600 baud, read by two
// adapters that deliver in chunks and late by up to 2 ms each, and the exchanges heard compared
// with those played.

#include "link/BusListener.h"
#include "link/MdbCommands.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using namespace norvex::link;
using Bytes = std::vector<std::uint8_t>;
using Line = BusListener::Line;

namespace {

Bytes withSum(Bytes b) {
    unsigned sum = 0;
    for (auto x : b)
        sum += x;
    b.push_back(static_cast<std::uint8_t>(sum));
    return b;
}

// One byte on a line: when it had been received whole, and its mode bit.
struct WireByte {
    std::int64_t endUs;
    std::uint8_t value;
    bool modeBit;
};

struct Played {
    Bytes command, answer;
    int reply = -1; // -1: none
    std::uint16_t faults = 0;
};

// The machine: its controller and peripherals put bytes on two lines with real timing.
struct Bus {
    std::vector<WireByte> lines[2];
    std::vector<Played> played;
    std::int64_t now = 100000;

    void put(Line line, const Bytes& bytes, bool lastMarked, bool firstMarked) {
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            now += MDB_CHAR_US;
            const bool mode = (lastMarked && i + 1 == bytes.size()) || (firstMarked && i == 0);
            lines[static_cast<int>(line)].push_back({now, bytes[i], mode});
        }
    }
    void command(const Bytes& c) { put(Line::Controller, c, false, true); }
    void answer(const Bytes& a) { put(Line::Peripheral, a, true, false); }
    void reply(std::uint8_t r) { put(Line::Controller, {r}, false, false); }
    void wait(std::int64_t us) { now += us; }

    // A whole exchange; the reply follows a data answer unless told otherwise.
    Played& exchange(const Bytes& c, const Bytes& a, int reply = 0, std::int64_t answerDelay = 400,
                     std::int64_t replyDelay = 300, std::uint16_t faults = 0) {
        command(c);
        if (!a.empty()) {
            wait(answerDelay);
            answer(a);
        }
        if (reply >= 0 && a.size() >= 2) {
            wait(replyDelay);
            this->reply(static_cast<std::uint8_t>(reply));
        }
        // A controller waits 5 ms for an answer before it gives up.
        wait(a.empty() ? 6000 : 2000);
        played.push_back({c, a, a.size() >= 2 ? reply : -1, faults});
        return played.back();
    }
};

// Two adapters: each reads every `period` µs (its own phase) what had arrived `latency` µs
// before; the listener sees the reads in the order they happened.
struct Adapters {
    std::int64_t period[2] = {1000, 1000};
    std::int64_t phase[2] = {0, 500};
    std::int64_t latency[2] = {0, 0};
    bool marks = false;
};

std::vector<HeardExchange> listen(const Bus& bus, const Adapters& a) {
    struct Read {
        std::int64_t at;
        int line;
        std::vector<LineByte> bytes;
    };
    std::vector<Read> reads;
    for (int l = 0; l < 2; ++l) {
        const auto& wire = bus.lines[l];
        std::size_t next = 0;
        for (std::int64_t t = a.phase[l]; next < wire.size(); t += a.period[l]) {
            Read r{t, l, {}};
            while (next < wire.size() && wire[next].endUs + a.latency[l] <= t) {
                const WireByte& w = wire[next++];
                r.bytes.push_back({w.value, a.marks && !w.modeBit});
            }
            if (!r.bytes.empty()) reads.push_back(std::move(r));
        }
    }
    std::stable_sort(reads.begin(), reads.end(), [](const Read& x, const Read& y) { return x.at < y.at; });
    BusListener listener;
    std::vector<HeardExchange> out;
    for (const Read& r : reads) {
        // The reader also wakes when the listener has something to do, as the tap's thread does.
        for (auto due = listener.deadline(); due && *due < r.at; due = listener.deadline())
            listener.advance(*due);
        listener.received(static_cast<Line>(r.line), r.bytes.data(), r.bytes.size(), r.at);
        listener.advance(r.at);
        listener.take(out);
    }
    // The lines stay quiet: the listener's own deadlines let everything go, none is held for the
    // end of listening.
    for (int wake = 0; wake < 1000; ++wake) {
        const auto due = listener.deadline();
        if (!due) break;
        listener.advance(*due);
        listener.take(out);
    }
    EXPECT_FALSE(listener.deadline()) << "a wait that never ends";
    const std::size_t beforeFinish = out.size();
    listener.finish(bus.now + 1000000);
    listener.take(out);
    EXPECT_EQ(out.size(), beforeFinish) << "exchanges held until listening ended";
    return out;
}

Bytes commandOf(const HeardExchange& h) {
    return Bytes(h.command.begin(), h.command.begin() + h.commandLength);
}
Bytes answerOf(const HeardExchange& h) {
    return Bytes(h.answer.begin(), h.answer.begin() + static_cast<std::ptrdiff_t>(h.answerLength()));
}

std::string hex(const Bytes& b) {
    std::string s;
    for (auto x : b) {
        char t[4];
        std::snprintf(t, sizeof t, "%02X ", x);
        s += t;
    }
    return s;
}

// A busy machine: a bill validator, a coin changer and a cashless reader polled in turn, with
// the longer commands and answers among them, and a device the listener knows nothing about.
Bus busyMachine(unsigned seed, int exchanges) {
    std::mt19937 rng(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    Bus bus;
    for (int i = 0; i < exchanges; ++i) {
        // Answers within 2.5 ms and acknowledges within 2.5 ms: even 2 ms of skew keeps them in time.
        const std::int64_t ad = pick(100, 2500), rd = pick(100, 2500);
        switch (pick(0, 9)) {
        case 0:
            bus.exchange({0x33, 0x33}, {0x00}, 0, ad, rd);
            break;
        case 1:
            bus.exchange({0x33, 0x33}, withSum({0x80, static_cast<std::uint8_t>(0x80 | pick(0, 15))}), 0, ad,
                         rd);
            break;
        case 2: {
            Bytes setup{0x01, 0x19, 0x78, 0x00, 0x64, 0x02, 0x01, 0x90, 0x00, 0x0C, 0xFF};
            for (int k = 0; k < 16; ++k)
                setup.push_back(static_cast<std::uint8_t>(k < 7 ? 1 << (k % 4) : 0));
            bus.exchange({0x31, 0x31}, withSum(setup), 0, ad, rd);
            break;
        }
        case 3:
            bus.exchange(withSum({0x34, 0xFF, 0xFF, 0x00, 0x00}), {0x00}, 0, ad, rd);
            break;
        case 4:
            bus.exchange({0x0B, 0x0B}, withSum({0x41, static_cast<std::uint8_t>(pick(0, 20))}), 0, ad, rd);
            break;
        case 5:
            bus.exchange(withSum({0x0C, 0x00, 0x1F, 0x00, 0x1F}), {0x00}, 0, ad, rd);
            break;
        case 6:
            bus.exchange({0x12, 0x12}, {0x00}, 0, ad, rd);
            break;
        case 7:
            // A level-3 reader's longer price range: 13 bytes where 7 could have ended it.
            bus.exchange(withSum({0x11, 0x01, 0x00, 0x00, 0x27, 0x10, 0x00, 0x00, 0x00, 0x05, 0x19, 0x78}),
                         {0x00}, 0, ad, rd);
            break;
        case 8:
            bus.exchange(withSum({0x13, 0x00, 0x00, 0x96, 0x00, 0x07}), withSum({0x05, 0x00, 0x96}), 0, ad,
                         rd);
            break;
        default:
            // Address 48h: nobody's table; its command ends on its checksum.
            bus.exchange(withSum({0x4B, 0x01, 0x02}), withSum({0x10, 0x20, 0x30}), 0, ad, rd);
            break;
        }
        bus.wait(pick(0, 15000));
    }
    return bus;
}

void expectHeardAsPlayed(const Bus& bus, const std::vector<HeardExchange>& heard, const std::string& where) {
    ASSERT_EQ(heard.size(), bus.played.size()) << where;
    for (std::size_t i = 0; i < heard.size(); ++i) {
        const HeardExchange& h = heard[i];
        const Played& p = bus.played[i];
        EXPECT_EQ(h.kind, HeardKind::Exchange) << where << " #" << i;
        EXPECT_EQ(hex(commandOf(h)), hex(p.command)) << where << " #" << i;
        EXPECT_EQ(hex(answerOf(h)), hex(p.answer)) << where << " #" << i << " to " << hex(p.command);
        EXPECT_EQ(h.replyUs >= 0 ? int{h.reply} : -1, p.reply) << where << " #" << i;
        EXPECT_EQ(h.faults & ~HEARD_RESET, p.faults) << where << " #" << i << " " << hex(p.command);
        EXPECT_EQ(h.address, addressOf(p.command[0])) << where;
        if (i > 0) {
            EXPECT_GE(h.firstUs(), heard[i - 1].firstUs()) << where << " #" << i;
        }
    }
}

} // namespace

TEST(BusListenerTest, EveryExchangeIsPairedWhateverTheAdaptersReadTimesAndChunks) {
    const Bus bus = busyMachine(7, 300);
    struct Case {
        std::int64_t latencyC, latencyP, periodC, periodP;
    };
    // Each adapter hands bytes over up to 2 ms after they arrived (its latency, then its next
    // read), either one the later, reading every 0.25 to 2 ms.
    const Case cases[] = {{0, 0, 1000, 1000},  {1000, 0, 1000, 250}, {0, 1000, 250, 1000},
                          {1700, 0, 300, 300}, {0, 1700, 300, 300},  {0, 0, 2000, 250},
                          {0, 0, 250, 2000},   {1300, 0, 700, 1300}, {0, 1100, 1700, 900}};
    for (bool marks : {false, true}) {
        for (const Case& c : cases) {
            Adapters a;
            a.latency[0] = c.latencyC;
            a.latency[1] = c.latencyP;
            a.period[0] = c.periodC;
            a.period[1] = c.periodP;
            a.marks = marks;
            const std::string where = "marks " + std::to_string(marks) + " latency " +
                                      std::to_string(c.latencyC) + "/" + std::to_string(c.latencyP) +
                                      " period " + std::to_string(c.periodC) + "/" +
                                      std::to_string(c.periodP);
            expectHeardAsPlayed(bus, listen(bus, a), where);
        }
    }
}

TEST(BusListenerTest, MarksFrameOnceTheyAgreeWithTheChecksums) {
    const Bus bus = busyMachine(11, 40);
    Adapters a;
    a.marks = true;
    BusListener listener;
    std::vector<HeardExchange> out;
    for (int l = 0; l < 2; ++l)
        for (const WireByte& w : bus.lines[l]) {
            const LineByte b{w.value, !w.modeBit};
            listener.received(static_cast<Line>(l), &b, 1, w.endUs);
        }
    listener.finish(bus.now);
    EXPECT_EQ(listener.framing(Line::Controller), Framing::ModeBit);
    EXPECT_EQ(listener.framing(Line::Peripheral), Framing::ModeBit);

    // A driver that flags per packet: a mark on a whole answer's last byte contradicts them.
    // Once may be the order of the lines; again and again, the marks are not used any more.
    BusListener doubtful;
    const LineByte cmd[] = {{0x33, false}, {0x33, true}};
    const LineByte answer[] = {{0x80, true}, {0x80, false}};
    const LineByte wrong[] = {{0x80, true}, {0x80, true}};
    std::int64_t t = 0;
    const Framing expected[] = {Framing::QuietLine, Framing::ModeBit, Framing::ModeBit, Framing::ModeBit,
                                Framing::MarksUnreliable};
    for (int i = 0; i < 5; ++i) {
        doubtful.received(Line::Controller, cmd, 2, t += 3000);
        doubtful.received(Line::Peripheral, i < 2 ? answer : wrong, 2, t += 3000);
        doubtful.advance(t += 20000);
        doubtful.received(Line::Controller, cmd, 1, t += 30000);
        doubtful.advance(t += 20000);
        EXPECT_EQ(doubtful.framing(Line::Peripheral), expected[i]) << i;
    }
}

TEST(BusListenerTest, TimingFaultsAreMarked) {
    Bus bus;
    const Bytes poll{0x33, 0x33}, data = withSum({0x80, 0x81});
    bus.exchange(poll, {0x00});
    bus.exchange(poll, data, 0, 8000, 300, HEARD_LATE_ANSWER);
    bus.exchange(poll, withSum({0x80, 0x82}), 0, 400, 7500, HEARD_LATE_ACK);
    bus.exchange(poll, withSum({0x90, 0x01}), -1, 400, 300, HEARD_MISSING_ACK);
    // The validator sends what was not acknowledged again.
    bus.exchange(poll, withSum({0x90, 0x01}), 0, 400, 300, HEARD_RESEND);
    bus.exchange(poll, withSum({0x80, 0x83}), 0xFF, 400, 300, HEARD_NAK);
    bus.exchange(poll, withSum({0x80, 0x83}), 0, 400, 300, HEARD_RESEND);
    bus.exchange(poll, Bytes{0x80, 0x84, 0x00}, 0, 400, 300, HEARD_ANSWER_CHECKSUM);
    bus.exchange({0x08, 0x08}, {0x00});
    bus.exchange({0x0B, 0x0B}, {}, -1, 0, 0, HEARD_NO_ANSWER);
    // A lone byte that is neither ACK nor NAK: an answer whose checksum went wrong.
    bus.exchange(poll, {0x01}, 0, 400, 300, HEARD_ANSWER_CHECKSUM);
    bus.wait(8000); // the controller waits in vain for the rest
    bus.exchange(poll, {0xFF});
    for (std::int64_t latency : {0, 2000}) {
        Adapters a;
        a.latency[1] = latency;
        expectHeardAsPlayed(bus, listen(bus, a), "latency " + std::to_string(latency));
        const auto heard = listen(bus, a);
        EXPECT_TRUE(heard[8].has(HEARD_RESET)) << "RESET of the changer";
        EXPECT_GT(heard[1].answerDelayUs(), 5000);
        EXPECT_LT(heard[2].answerDelayUs(), 5000);
    }
}

TEST(BusListenerTest, RetransmissionAfterRetIsAnExchangeOfItsOwn) {
    Bus bus;
    const Bytes poll{0x0B, 0x0B}, coin = withSum({0x41, 0x05});
    bus.command(poll);
    bus.wait(300);
    bus.answer(coin);
    bus.wait(300);
    bus.reply(MDB_RET);
    bus.wait(300);
    bus.answer(coin);
    bus.wait(300);
    bus.reply(MDB_ACK);
    bus.wait(20000);
    bus.exchange(poll, {0x00});
    const auto heard = listen(bus, Adapters{});
    ASSERT_EQ(heard.size(), 3u);
    EXPECT_EQ(heard[0].kind, HeardKind::Exchange);
    EXPECT_TRUE(heard[0].has(HEARD_RET));
    EXPECT_EQ(heard[0].reply, MDB_RET);
    EXPECT_EQ(heard[1].kind, HeardKind::Retransmission);
    EXPECT_EQ(hex(answerOf(heard[1])), hex(coin));
    EXPECT_EQ(heard[1].reply, MDB_ACK);
    EXPECT_EQ(heard[1].faults, 0) << "asked for, so not a resend";
    EXPECT_EQ(heard[1].address, 0x08);
    EXPECT_EQ(heard[2].kind, HeardKind::Exchange);
}

TEST(BusListenerTest, BusResetNoiseAndStrayBytesAreNamed) {
    Bus bus;
    bus.exchange({0x33, 0x33}, {0x00});
    // The controller holds its line low: one 00, then quiet on both lines.
    bus.reply(0x00);
    bus.wait(250000);
    bus.exchange({0x30, 0x30}, {0x00});
    // Noise on the peripherals' line between two exchanges.
    bus.wait(20000);
    bus.answer({0xE5, 0x5E, 0x7A});
    bus.wait(20000);
    // A stray 00 on the controller's line, then a command soon after.
    bus.reply(0x00);
    bus.wait(3000);
    bus.exchange({0x33, 0x33}, {0x00});
    const auto heard = listen(bus, Adapters{});
    ASSERT_EQ(heard.size(), 6u);
    EXPECT_EQ(heard[1].kind, HeardKind::BusReset);
    EXPECT_TRUE(heard[1].has(HEARD_RESET));
    EXPECT_EQ(heard[2].kind, HeardKind::Exchange);
    EXPECT_TRUE(heard[2].has(HEARD_RESET));
    EXPECT_EQ(heard[3].kind, HeardKind::PeripheralStray);
    EXPECT_EQ(hex(answerOf(heard[3])), "E5 5E 7A ");
    EXPECT_EQ(heard[3].address, 0x30);
    EXPECT_EQ(heard[4].kind, HeardKind::ControllerStray);
    EXPECT_EQ(heard[5].kind, HeardKind::Exchange);
}

TEST(BusListenerTest, CapturePacketsFollowTheWireInTimeOrder) {
    Bus bus;
    bus.exchange({0x0B, 0x0B}, withSum({0x41, 0x05}));
    bus.exchange({0x33, 0x33}, {0x00});
    BusListener listener(1'700'000'000'000'000);
    std::vector<HeardExchange> heard;
    for (int l = 0; l < 2; ++l)
        for (const WireByte& w : bus.lines[l]) {
            const LineByte b{w.value, false};
            // The peripherals' adapter reads 2 ms earlier than the controller's.
            listener.received(static_cast<Line>(l), &b, 1, w.endUs - (l == 1 ? 2000 : 0));
        }
    listener.finish(bus.now);
    listener.take(heard);
    ASSERT_EQ(heard.size(), 2u);
    std::vector<std::uint8_t> out;
    std::int64_t last = 0;
    HeardExchange reset;
    reset.kind = HeardKind::BusReset;
    reset.commandFirstUs = reset.commandLastUs = bus.now;
    reset.wallUs = heard.back().wallUs + 100000;
    heard.push_back(reset);
    for (const auto& h : heard)
        appendHeardPackets(h, last, out);
    // Command, answer with the changer's address, ACK; command, bare ACK from the validator; the
    // bus reset with the 00 its break reads as.
    std::vector<std::vector<std::uint8_t>> packets;
    std::vector<std::uint64_t> times;
    for (std::size_t at = 0; at < out.size();) {
        const std::uint32_t len = out[at + 8] | out[at + 9] << 8;
        times.push_back(std::uint64_t{out[at]} | std::uint64_t{out[at + 1]} << 8 |
                        std::uint64_t{out[at + 2]} << 16 | std::uint64_t{out[at + 3]} << 24);
        times.back() = times.back() * 1000000 + (out[at + 4] | out[at + 5] << 8 | out[at + 6] << 16);
        packets.emplace_back(out.begin() + static_cast<std::ptrdiff_t>(at + 16),
                             out.begin() + static_cast<std::ptrdiff_t>(at + 16 + len));
        at += 16 + len;
    }
    const std::vector<std::vector<std::uint8_t>> expected = {
        {0x00, 0xFF, 0x0B, 0x0B}, {0x00, 0xFE, 0x08, 0x41, 0x05, 0x46},
        {0x00, 0xFF, 0x00},       {0x00, 0xFF, 0x33, 0x33},
        {0x00, 0xFE, 0x30, 0x00}, {0x00, 0xFD, 0x00}};
    EXPECT_EQ(packets, expected);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
}

TEST(BusListenerTest, AnAnswerAndItsRetransmissionDeliveredTogetherAreTwoExchanges) {
    // A loaded system hands the peripherals' line over late: the answer, the RET and the
    // answer again are read in one go on each line.
    BusListener listener;
    const LineByte poll[] = {{0x33, false}, {0x33, false}};
    const LineByte twice[] = {{0x84, false}, {0x84, false}, {0x84, false}, {0x84, false}};
    const LineByte replies[] = {{0xAA, false}, {0x00, false}};
    listener.received(Line::Controller, poll, 2, 100000);
    listener.advance(100000);
    listener.received(Line::Controller, replies, 2, 112000);
    listener.received(Line::Peripheral, twice, 4, 112100);
    listener.advance(112100);
    listener.finish(200000);
    std::vector<HeardExchange> heard;
    listener.take(heard);
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(hex(answerOf(heard[0])), "84 84 ");
    EXPECT_EQ(heard[0].reply, MDB_RET);
    EXPECT_EQ(heard[1].kind, HeardKind::Retransmission);
    EXPECT_EQ(hex(answerOf(heard[1])), "84 84 ");
    EXPECT_EQ(heard[1].reply, MDB_ACK);
    EXPECT_EQ(heard[1].faults, 0);
}

TEST(BusListenerTest, NoiseOnBothLinesEndsEveryWaitAndKeepsRecordsInBoundsAndInOrder) {
    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::mt19937 rng(seed);
        BusListener listener;
        std::vector<HeardExchange> heard;
        std::int64_t t = 1000000;
        for (int read = 0; read < 2000; ++read) {
            LineByte bytes[12];
            const std::size_t n = 1 + rng() % 12;
            for (std::size_t i = 0; i < n; ++i)
                bytes[i] = {static_cast<std::uint8_t>(rng() % 3 == 0 ? (rng() % 2 ? 0x00 : 0xFF) : rng()),
                            rng() % 2 == 0};
            t += static_cast<std::int64_t>(rng() % 4000);
            // Now and then the reader is held up, or wakes for the listener's deadline.
            if (rng() % 50 == 0) t += 150000;
            if (auto due = listener.deadline(); due && *due < t) listener.advance(*due);
            listener.received(rng() % 2 ? Line::Controller : Line::Peripheral, bytes, n, t);
            listener.advance(t);
            listener.take(heard);
        }
        listener.finish(t + 1000000);
        listener.take(heard);
        EXPECT_FALSE(listener.deadline()) << "seed " << seed << ": a wait left open";
        for (std::size_t i = 0; i < heard.size(); ++i) {
            EXPECT_EQ(heard[i].number, i + 1) << "seed " << seed;
            EXPECT_LE(heard[i].commandLength, HEARD_COMMAND_BYTES);
            EXPECT_LE(heard[i].answerReceived, BusListener::LONGEST_UNIT);
            if (i > 0) {
                EXPECT_GE(heard[i].firstUs(), heard[i - 1].firstUs()) << "seed " << seed << " #" << i;
            }
        }
    }
}

// The bytes of one line fed as one read each, the controller's line at its times plus `skew`.
// `late` (line, index, µs): one byte a loaded system hands over that much later.
std::vector<HeardExchange> listenSkewed(const Bus& bus, std::int64_t skewController, bool marks = false,
                                        std::array<std::int64_t, 3> late = {0, -1, 0},
                                        bool* swapped = nullptr) {
    struct Read {
        std::int64_t at;
        int line;
        LineByte byte;
    };
    std::vector<Read> reads;
    for (int l = 0; l < 2; ++l)
        for (std::size_t i = 0; i < bus.lines[l].size(); ++i) {
            const WireByte& w = bus.lines[l][i];
            const std::int64_t extra = late[0] == l && late[1] == static_cast<std::int64_t>(i) ? late[2] : 0;
            reads.push_back(
                {w.endUs + (l == 0 ? skewController : 0) + extra, l, {w.value, marks && !w.modeBit}});
        }
    std::stable_sort(reads.begin(), reads.end(), [](const Read& x, const Read& y) { return x.at < y.at; });
    BusListener listener;
    std::vector<HeardExchange> out;
    for (const Read& r : reads) {
        for (auto due = listener.deadline(); due && *due < r.at; due = listener.deadline())
            listener.advance(*due);
        listener.received(static_cast<Line>(r.line), &r.byte, 1, r.at);
        listener.advance(r.at);
    }
    listener.finish(bus.now + 1000000);
    listener.take(out);
    if (swapped) *swapped = listener.linesLookSwapped();
    return out;
}

std::string summary(const std::vector<HeardExchange>& heard) {
    std::string s;
    for (const HeardExchange& h : heard) {
        if (h.kind == HeardKind::ControllerStray) s += "stray ";
        if (h.kind == HeardKind::PeripheralStray) s += "pstray ";
        s += hex(commandOf(h));
        if (h.answerReceived > 0) s += "-> " + hex(answerOf(h));
        if (h.has(HEARD_COMMAND_CHECKSUM)) s += "bad ";
        if (h.has(HEARD_COMMAND_CUT)) s += "cut ";
        if (h.has(HEARD_RESET)) s += "reset ";
        s += "| ";
    }
    return s;
}

TEST(BusListenerTest, FramingWithoutMarksFindsTheNextCommandAfterOneThatFailed) {
    struct Case {
        const char* what;
        Bytes noise; // on the controller's line just before a POLL of the validator
        const char* heard;
    };
    const Case cases[] = {
        {"a noise byte", {0x20}, "stray 20 | 33 33 -> 80 80 | 0B 0B -> 00 | "},
        {"noise that starts a longer command",
         {0x34, 0x01},
         "stray 34 | stray 01 | 33 33 -> 80 80 | 0B 0B -> 00 | "},
        {"a changer POLL's first byte", {0x0B}, "stray 0B | 33 33 -> 80 80 | 0B 0B -> 00 | "},
        {"a RESET's first byte", {0x30}, "stray 30 | 33 33 -> 80 80 | 0B 0B -> 00 | "},
    };
    for (const Case& c : cases) {
        for (std::int64_t skew : {-2000, 0, 2000}) {
            Bus bus;
            bus.command(c.noise);
            bus.exchange({0x33, 0x33}, {0x80, 0x80});
            bus.wait(25000);
            bus.exchange({0x0B, 0x0B}, {0x00});
            EXPECT_EQ(summary(listenSkewed(bus, skew)), c.heard) << c.what << ", skew " << skew;
        }
    }
}

TEST(BusListenerTest, AResetThatFailedResetsNothing) {
    struct Case {
        Bytes command;
        bool marks;
        const char* heard;
    };
    const Case cases[] = {
        // By the marks a command starts at its address byte: its faults stay its own.
        {{0x30, 0x31}, true, "33 33 -> 00 | 33 33 -> 00 | 30 31 bad | 33 33 -> 00 | "},
        {{0x30, 0x30}, true, "33 33 -> 00 | 33 33 -> 00 | 30 30 -> 00 reset | 33 33 -> 00 | "},
        {{0x30}, false, "33 33 -> 00 | 33 33 -> 00 | 30 cut | 33 33 -> 00 | "},
    };
    for (const Case& c : cases) {
        Bus bus;
        bus.exchange({0x33, 0x33}, {0x00});
        bus.exchange({0x33, 0x33}, {0x00});
        bus.command(c.command);
        if (c.command == Bytes{0x30, 0x30}) {
            bus.wait(400);
            bus.answer({0x00});
        }
        bus.wait(30000);
        bus.exchange({0x33, 0x33}, {0x00});
        EXPECT_EQ(summary(listenSkewed(bus, 0, c.marks)), c.heard) << hex(c.command);
    }
}

TEST(BusListenerTest, ALateByteStillEndsTheCommandOrAnswerItBelongsTo) {
    // Two adapters 2 ms apart, and one byte a loaded system hands over later still: the
    // controller's ACK does not cut the answer short, nor an answer the command it follows.
    struct Case {
        const char* what;
        int line, index;
    };
    const Case cases[] = {{"the answer's second byte", 1, 1}, {"the command's second byte", 0, 1}};
    for (const Case& c : cases)
        for (std::int64_t skew : {-2000, 2000})
            for (std::int64_t late : {1000, 3000}) {
                Bus bus;
                bus.exchange({0x33, 0x33}, {0x80, 0x80}, 0, 200, 200);
                bus.exchange({0x0B, 0x0B}, withSum({0x51, 0x0C}), 0, 200, 200);
                bus.exchange({0x33, 0x33}, {0x00}, 0, 200);
                EXPECT_EQ(summary(listenSkewed(bus, skew, false, {c.line, c.index, late})),
                          "33 33 -> 80 80 | 0B 0B -> 51 0C 5D | 33 33 -> 00 | ")
                    << c.what << " " << late << " us late, skew " << skew;
            }
}

TEST(BusListenerTest, SwappedLinesAreNoticed) {
    Bus bus;
    for (int i = 0; i < 12; ++i) {
        bus.exchange({0x33, 0x33}, i % 3 ? Bytes{0x00} : withSum({0x80, 0x81}));
        bus.exchange({0x0B, 0x0B}, {0x00});
    }
    for (bool swap : {false, true}) {
        Bus wired = bus;
        if (swap) std::swap(wired.lines[0], wired.lines[1]);
        bool swapped = !swap;
        const auto heard = listenSkewed(wired, 0, false, {0, -1, 0}, &swapped);
        EXPECT_EQ(swapped, swap) << summary(heard);
    }
}
