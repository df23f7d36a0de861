// SPDX-License-Identifier: GPL-3.0-or-later
// Drives the compiled norvex-sim through its pseudo-terminal with a small termios peer.
#include "SimPeer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

using namespace simtest;
using namespace std::chrono_literals;

namespace {

const Bytes POLL_FRAME{0x33, 0x33};
const Bytes ACK_BYTE{0x00};

std::string scratchDir() {
    std::string dir = ::testing::TempDir() + "norvex-sim-XXXXXX";
    if (!::mkdtemp(dir.data())) return ::testing::TempDir();
    return dir;
}

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

Bytes diagnostics(std::uint8_t fn) {
    return withSum({0x37, 0xFF, 0x56, 0x4E, 0x54, 0x00, fn});
}

// True when every needle occurs in the text, in the order given.
bool inOrder(const std::string& text, const std::vector<std::string>& needles) {
    std::size_t at = 0;
    for (const auto& n : needles) {
        at = text.find(n, at);
        if (at == std::string::npos) return false;
        at += n.size();
    }
    return true;
}

// Brings the validator through RESET, the reset report and enabling every type with escrow.
void startUp(SerialPeer& peer) {
    ASSERT_EQ(peer.transact({0x30, 0x30}, 1), ACK_BYTE);
    ASSERT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x06, 0x06}));
    peer.write(ACK_BYTE);
    ASSERT_EQ(peer.transact(withSum({0x34, 0xFF, 0xFF, 0xFF, 0xFF}), 1), ACK_BYTE);
}

} // namespace

TEST(SimEndToEnd, StartUpExchangeIsAnsweredAtWireSpeedAndLogged) {
    const std::string log = scratchDir() + "/sim.log";
    SimProcess sim({"--ack-timeout-ms", "300", "--log", log});
    ASSERT_EQ(sim.path().rfind("/dev/pts/", 0), 0u) << sim.path();
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));

    EXPECT_EQ(peer.transact({0x30, 0x30}, 1), ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x06, 0x06}));
    peer.write(ACK_BYTE);

    const auto start = std::chrono::steady_clock::now();
    const Bytes setup = peer.transact({0x31, 0x31}, 28);
    const auto took = std::chrono::steady_clock::now() - start;
    ASSERT_EQ(setup.size(), 28u);
    EXPECT_EQ(setup[27], sum8(setup, 27));
    EXPECT_EQ(setup[0], 0x01);
    EXPECT_GE(took, 27 * 1100us); // one 11-bit character time per byte at 9600 baud
    peer.write(ACK_BYTE);

    const Bytes ident = peer.transact({0x37, 0x00, 0x37}, 30);
    ASSERT_EQ(ident.size(), 30u);
    EXPECT_EQ(ident[29], sum8(ident, 29));
    EXPECT_EQ(std::string(ident.begin(), ident.begin() + 3), "VNT");
    peer.write(ACK_BYTE);

    EXPECT_EQ(peer.transact(withSum({0x34, 0x00, 0x7F, 0x00, 0x7F}), 1), ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 1), ACK_BYTE);
    EXPECT_TRUE(peer.readUntilQuiet(50).empty());

    EXPECT_EQ(sim.terminate(), 0);
    const std::string text = readText(log);
    EXPECT_TRUE(inOrder(
        text, {"\"dir\":\"rx\",\"frame\":\"30 30\"", "\"dir\":\"tx\",\"bytes\":\"00\",\"kind\":\"reset\"",
               "\"frame\":\"33 33\"", "\"bytes\":\"06 06\",\"kind\":\"poll\"", "\"ack_ms\":",
               "\"frame\":\"31 31\"", "\"kind\":\"setup\"", "\"ack_ms\":", "\"frame\":\"37 00 37\"",
               "\"frame\":\"34 00 7F 00 7F 32\"", "\"event\":\"exit\",\"reason\":\"signal\""}))
        << text;
}

TEST(SimEndToEnd, MarkedAnswersAreWhatADriverReportingErrorsPerByteDelivers) {
    SimProcess sim({"--ack-timeout-ms", "300", "--marked"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path(), INPCK | PARMRK));
    EXPECT_EQ(peer.transact({0x30, 0x30}, 1), ACK_BYTE); // one byte: its own last
    EXPECT_EQ(peer.transact(POLL_FRAME, 4), (Bytes{0xFF, 0x00, 0x06, 0x06}));
    peer.write(ACK_BYTE);
    ASSERT_EQ(sim.command("status F5 0A"), "ok");
    EXPECT_EQ(peer.transact(POLL_FRAME, 8), (Bytes{0xFF, 0x00, 0xF5, 0xFF, 0x00, 0x0A, 0xFF, 0xFF}));
    peer.write(ACK_BYTE);
    EXPECT_TRUE(peer.readUntilQuiet(50).empty());

    // A client that asks for no marking gets the bytes as they are.
    peer.close();
    ASSERT_TRUE(peer.open(sim.path()));
    ASSERT_EQ(sim.command("status 80 80"), "ok");
    EXPECT_EQ(peer.transact(POLL_FRAME, 3), (Bytes{0x80, 0x80, 0x00}));
    peer.write(ACK_BYTE);
    EXPECT_TRUE(peer.readUntilQuiet(50).empty());
    EXPECT_EQ(sim.terminate(), 0);
}

TEST(SimEndToEnd, EscrowedBillsAreStackedOrReturnedOnCommand) {
    SimProcess sim({"--ack-timeout-ms", "500"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    startUp(peer);

    EXPECT_EQ(sim.command("insert 1"), "ok");
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x91, 0x91}));
    peer.write(ACK_BYTE);
    EXPECT_EQ(peer.transact({0x35, 0x01, 0x36}, 1), ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x81, 0x81}));
    peer.write(ACK_BYTE);

    EXPECT_EQ(sim.command("insert 2 escrow"), "ok");
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x92, 0x92}));
    peer.write(ACK_BYTE);
    EXPECT_EQ(peer.transact({0x35, 0x00, 0x35}, 1), ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0xA2, 0xA2}));
    peer.write(ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 1), ACK_BYTE);
    EXPECT_EQ(sim.command("insert 16").rfind("error:", 0), 0u);
}

TEST(SimEndToEnd, DiagnosticsRecordsHaveTheirLengthsAndChecksumsAndEraseZeroesStatistics) {
    SimProcess sim({"--ack-timeout-ms", "500"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    const std::pair<std::uint8_t, std::size_t> records[] = {{0xE9, 28}, {0xE8, 337}, {0xE7, 281}, {0xDD, 73}};
    for (auto [fn, length] : records) {
        const Bytes answer = peer.transact(diagnostics(fn), length, 3000);
        ASSERT_EQ(answer.size(), length) << std::hex << int(fn);
        EXPECT_EQ(answer.back(), sum8(answer, length - 1)) << std::hex << int(fn);
        EXPECT_TRUE(peer.readUntilQuiet(30).empty()) << std::hex << int(fn);
        peer.write(ACK_BYTE);
    }
    const Bytes stacker = peer.transact({0x36, 0x36}, 3);
    ASSERT_EQ(stacker.size(), 3u);
    EXPECT_EQ(stacker[2], sum8(stacker, 2));
    peer.write(ACK_BYTE);

    EXPECT_EQ(peer.transact(diagnostics(0x32), 1), ACK_BYTE);
    EXPECT_EQ(peer.transact(diagnostics(0xDD), 73, 3000), Bytes(73, 0x00));
}

TEST(SimEndToEnd, UnacknowledgedPollAnswerIsSentAgainAtTheNextPoll) {
    const std::string log = scratchDir() + "/sim.log";
    SimProcess sim({"--ack-timeout-ms", "100", "--log", log});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x06, 0x06}));
    peer.write(ACK_BYTE);
    EXPECT_EQ(sim.command("status 03"), "ok");

    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x03, 0x03}));
    std::this_thread::sleep_for(300ms); // no acknowledge
    EXPECT_EQ(peer.transact(POLL_FRAME, 2), (Bytes{0x03, 0x03}));
    peer.write(ACK_BYTE);
    EXPECT_EQ(peer.transact(POLL_FRAME, 1), ACK_BYTE);

    EXPECT_EQ(sim.terminate(), 0);
    const std::string text = readText(log);
    EXPECT_TRUE(inOrder(text, {"\"bytes\":\"03 03\"", "\"ack\":\"timeout\",\"kind\":\"poll\"",
                               "\"bytes\":\"03 03\"", "\"ack_ms\":", "\"bytes\":\"00\",\"kind\":\"poll\""}))
        << text;
}

TEST(SimEndToEnd, BrokenFramesAndStrayBytesGetNoAnswerAndTheLineResynchronises) {
    SimProcess sim({"--no-pacing"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    peer.write({0xE5, 0x34, 0x00, 0xFF, 0x00, 0xFF, 0x33});
    EXPECT_TRUE(peer.readUntilQuiet(100).empty());
    EXPECT_EQ(peer.transact({0x5A, 0x30, 0x30}, 1), ACK_BYTE);

    // A failure mode set on the control channel: garbage in front of the next RESET answer.
    EXPECT_EQ(sim.command("fail reset garbage n=2"), "ok");
    EXPECT_EQ(peer.transact({0x30, 0x30}, 3), (Bytes{0xE5, 0x5E, 0x00}));
    EXPECT_EQ(peer.transact({0x30, 0x30}, 1), ACK_BYTE);
}

TEST(SimEndToEnd, SplitAndSlowAnswersArriveInPiecesAndAStopSignalCutsThemShort) {
    SimProcess sim({"--ack-timeout-ms", "500"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    EXPECT_EQ(sim.command("fail sensors split parts=2 gap=150"), "ok");
    peer.write(diagnostics(0xE9));
    Bytes answer = peer.read(14, 1000);
    EXPECT_EQ(answer.size(), 14u);
    EXPECT_TRUE(peer.read(1, 80).empty()); // the gap between the two writes
    const Bytes rest = peer.read(14, 1000);
    answer.insert(answer.end(), rest.begin(), rest.end());
    ASSERT_EQ(answer.size(), 28u);
    EXPECT_EQ(answer[27], sum8(answer, 27));
    peer.write(ACK_BYTE);

    EXPECT_EQ(sim.command("fail optics slow gap=1000"), "ok");
    peer.write(diagnostics(0xE8));
    EXPECT_EQ(peer.read(2, 500).size(), 1u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(sim.terminate(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST(SimEndToEnd, ClientsMayCloseAndReopenThroughTheLinkAndTheLinkGoesAtExit) {
    const std::string link = scratchDir() + "/ttyTavik";
    SimProcess sim({"--link", link, "--no-pacing"});
    {
        SerialPeer peer;
        ASSERT_TRUE(peer.open(link));
        EXPECT_EQ(peer.transact({0x30, 0x30}, 1), ACK_BYTE);
    }
    std::this_thread::sleep_for(100ms); // the simulator sees no client for a while
    SerialPeer again;
    ASSERT_TRUE(again.open(link));
    EXPECT_EQ(again.transact({0x30, 0x30}, 1), ACK_BYTE);
    EXPECT_EQ(again.transact(POLL_FRAME, 2), (Bytes{0x06, 0x06}));
    EXPECT_EQ(sim.terminate(), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST(SimEndToEnd, VanishingAdapterClosesTheTerminalAndEnds) {
    const std::string link = scratchDir() + "/ttyTavik";
    SimProcess sim({"--link", link});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    EXPECT_EQ(sim.command("fail poll vanish"), "ok");
    peer.write(POLL_FRAME);
    EXPECT_TRUE(peer.read(1, 500).empty());
    EXPECT_EQ(sim.waitExit(2000), 0);
    struct stat st {};
    EXPECT_NE(::lstat(link.c_str(), &st), 0);
}

TEST(SimEndToEnd, ScenarioQueuesEventsAndEndsTheRun) {
    const std::string dir = scratchDir();
    { std::ofstream(dir + "/scenario.txt") << "# a coupon, then the end\nat 100 coupon\nat 1500 end\n"; }
    SimProcess sim({"--scenario", dir + "/scenario.txt"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(peer.transact(POLL_FRAME, 3), (Bytes{0x06, 0x0B, 0x11}));
    EXPECT_EQ(sim.waitExit(4000), 0);
}

// ---- loader ----

namespace {

Bytes loaderFrame(std::uint8_t code) {
    return {'#', 'C', code, static_cast<std::uint8_t>(~code)};
}
const Bytes LOADER_ACK_BYTES{'#', 'A'};

std::uint16_t crcCcitt(std::uint16_t crc, const std::uint8_t* data, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        crc ^= static_cast<std::uint16_t>(data[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

// An image of one group: a header whose group table holds one entry, and 32 records of 133
// bytes (1 unsent byte, 3 address bytes, 128 data bytes, 1 unsent byte).
struct Image {
    Bytes header;
    std::vector<Bytes> records;
};

Image makeImage() {
    Image img;
    img.header.resize(128);
    for (std::size_t i = 0; i < 128; ++i)
        img.header[i] = static_cast<std::uint8_t>(0x40 + 5 * i);
    img.header[34] = 0x00;
    img.header[35] = 0xFF;
    std::uint16_t crc = 0xFFFF;
    for (std::size_t r = 0; r < 32; ++r) {
        Bytes rec(133);
        rec[0] = 0x3A;
        const std::uint32_t address = 0x018000 + 128 * static_cast<std::uint32_t>(r);
        rec[1] = static_cast<std::uint8_t>(address >> 16);
        rec[2] = static_cast<std::uint8_t>(address >> 8);
        rec[3] = static_cast<std::uint8_t>(address);
        for (std::size_t i = 0; i < 128; ++i)
            rec[4 + i] = static_cast<std::uint8_t>(r * 31 + i * 3 + (i >> 4));
        rec[132] = 0x0D;
        crc = crcCcitt(crc, &rec[4], 128);
        img.records.push_back(rec);
    }
    img.header[126] = static_cast<std::uint8_t>(crc >> 8);
    img.header[127] = static_cast<std::uint8_t>(crc);
    return img;
}

// One block exchange as the tool runs it; the final answer ("#A" when the block was taken).
Bytes blockExchange(SerialPeer& peer, std::uint8_t code, const Bytes& address, const Bytes& block) {
    Bytes start = loaderFrame(code);
    start.insert(start.end(), address.begin(), address.end());
    EXPECT_EQ(peer.transact(start, 2), LOADER_ACK_BYTES);
    EXPECT_EQ(peer.transact(block, 128, 3000), block);
    return peer.transact(LOADER_ACK_BYTES, 2);
}

} // namespace

TEST(SimEndToEnd, LoaderDialogueReceivesTheImageByteForByte) {
    const std::string dump = scratchDir() + "/dump.bin";
    SimProcess sim({"--loader", "--loader-dump", dump});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    const Image img = makeImage();

    EXPECT_EQ(peer.transact(loaderFrame(0x08), 2), LOADER_ACK_BYTES);
    Bytes speed = loaderFrame(0x83);
    speed.push_back(0x02);
    peer.write(speed);
    EXPECT_TRUE(peer.readUntilQuiet(200).empty());
    EXPECT_EQ(peer.transact(loaderFrame(0x75), 2).size(), 2u);

    EXPECT_EQ(blockExchange(peer, 0x20, {}, img.header), LOADER_ACK_BYTES);
    for (const auto& rec : img.records) {
        const Bytes address(rec.begin() + 1, rec.begin() + 4);
        const Bytes data(rec.begin() + 4, rec.begin() + 132);
        ASSERT_EQ(blockExchange(peer, 0x0C, address, data), LOADER_ACK_BYTES);
    }
    EXPECT_EQ(peer.transact(loaderFrame(0x84), 2), Bytes(img.header.begin() + 126, img.header.end()));
    EXPECT_EQ(sim.terminate(), 0);

    Bytes expected = img.header;
    for (const auto& rec : img.records)
        expected.insert(expected.end(), rec.begin() + 1, rec.begin() + 132);
    const std::string got = readText(dump);
    EXPECT_EQ(Bytes(got.begin(), got.end()), expected);
}

TEST(SimEndToEnd, LoaderFailureModesMakeTheToolRepeatAndSpoilTheCheck) {
    const std::string dump = scratchDir() + "/dump.bin";
    SimProcess sim({"--loader", "--no-pacing", "--loader-dump", dump, "--loader-check", "1234"});
    SerialPeer peer;
    ASSERT_TRUE(peer.open(sim.path()));
    EXPECT_EQ(sim.command("fail hello refuse"), "ok");
    EXPECT_EQ(sim.command("fail record nak 2"), "ok");
    EXPECT_EQ(sim.command("insert 1").rfind("error:", 0), 0u);

    EXPECT_EQ(peer.transact(loaderFrame(0x08), 2), (Bytes{'#', 'N'}));
    EXPECT_EQ(peer.transact(loaderFrame(0x08), 2), LOADER_ACK_BYTES);
    const Image img = makeImage();
    EXPECT_EQ(blockExchange(peer, 0x20, {}, img.header), LOADER_ACK_BYTES);
    const Bytes address(img.records[0].begin() + 1, img.records[0].begin() + 4);
    const Bytes data(img.records[0].begin() + 4, img.records[0].begin() + 132);
    EXPECT_EQ(blockExchange(peer, 0x0C, address, data), (Bytes{'#', 'N'}));
    EXPECT_EQ(blockExchange(peer, 0x0C, address, data), (Bytes{'#', 'N'}));
    EXPECT_EQ(blockExchange(peer, 0x0C, address, data), LOADER_ACK_BYTES);
    EXPECT_EQ(peer.transact(loaderFrame(0x84), 2), (Bytes{0x12, 0x34}));
    EXPECT_EQ(sim.command("fail check wrong"), "ok");
    EXPECT_EQ(peer.transact(loaderFrame(0x84), 2), (Bytes{0x12, 0x35}));
    EXPECT_EQ(sim.terminate(), 0);

    Bytes expected = img.header;
    expected.insert(expected.end(), address.begin(), address.end());
    expected.insert(expected.end(), data.begin(), data.end());
    const std::string got = readText(dump);
    EXPECT_EQ(Bytes(got.begin(), got.end()), expected);
}
