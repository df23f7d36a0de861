// SPDX-License-Identifier: GPL-3.0-or-later
// The capture file for Wireshark, byte for byte.

#include "link/BusCapture.h"
#include "support/PcapReader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace norvex;
using namespace norvex::link;
using Bytes = std::vector<std::uint8_t>;
namespace fs = std::filesystem;

namespace {

ExchangeRecord record(std::int64_t sentUs, std::int64_t wallUs, Bytes frame, Bytes answer,
                      std::int64_t firstUs, std::int64_t ackUs, ExchangeEnd end) {
    ExchangeRecord r;
    r.sentUs = sentUs;
    r.wallUs = wallUs;
    r.frameLength = static_cast<std::uint8_t>(frame.size());
    std::copy(frame.begin(), frame.end(), r.frame.begin());
    std::copy(answer.begin(), answer.end(), r.answer.begin());
    r.received = static_cast<std::uint32_t>(answer.size());
    r.firstUs = firstUs;
    r.lastUs = firstUs;
    r.ackUs = ackUs;
    r.end = end;
    return r;
}

// A POLL answered "bill escrowed" and acknowledged, then ESCROW answered with a bare ACK, written
// out by hand. 1 700 000 000 s is 0x6553F100.
const Bytes EXPECTED = {
    0xD4, 0xC3, 0xB2, 0xA1, 0x02, 0x00, 0x04, 0x00, // magic (microseconds), version 2.4
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, // UTC, accuracy
    0x5B, 0x01, 0x00, 0x00, 0x2C, 0x01, 0x00, 0x00, // snap length 347, link type 300
    // POLL at .000100
    0x00, 0xF1, 0x53, 0x65, 0x64, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, //
    0x00, 0xFF, 0x33, 0x33,                                                                         //
    // its answer 2.5 ms later, from the bill validator
    0x00, 0xF1, 0x53, 0x65, 0x28, 0x0A, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, //
    0x00, 0xFE, 0x30, 0x90, 0x90,                                                                   //
    // the controller's ACK 5.0 ms after the frame
    0x00, 0xF1, 0x53, 0x65, 0xEC, 0x13, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, //
    0x00, 0xFF, 0x00,                                                                               //
    // ESCROW stack at 1 700 000 001.000000
    0x01, 0xF1, 0x53, 0x65, 0x00, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00, 0x00, //
    0x00, 0xFF, 0x35, 0x01, 0x36,                                                                   //
    // answered by a bare ACK 999 999 µs after it
    0x01, 0xF1, 0x53, 0x65, 0x3F, 0x42, 0x0F, 0x00, 0x04, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, //
    0x00, 0xFE, 0x30, 0x00,                                                                         //
};

const std::int64_t T0 = 1700000000000100; // µs

std::vector<ExchangeRecord> exchanges() {
    return {record(1000, T0, {0x33, 0x33}, {0x90, 0x90}, 3500, 6000, ExchangeEnd::AckSent),
            record(2000000, T0 + 999900, {0x35, 0x01, 0x36}, {0x00}, 2999999, -1, ExchangeEnd::BareAck)};
}

struct TempFile {
    fs::path path = fs::temp_directory_path() / ("norvex-capture-" + std::to_string(::getpid()) + ".pcap");
    ~TempFile() { fs::remove(path); }
    Bytes bytes() const {
        std::ifstream in(path, std::ios::binary);
        return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
};

} // namespace

TEST(BusCapture, ExchangesBecomeTheHandWrittenFileByteForByte) {
    Bytes out;
    BusCapture::appendFileHeader(out);
    for (const ExchangeRecord& r : exchanges())
        BusCapture::appendExchange(r, out);
    EXPECT_EQ(out, EXPECTED);

    // The same through the file, written exchange by exchange, and as a whole file's bytes.
    TempFile live;
    BusCapture capture;
    ASSERT_TRUE(capture.open(live.path.string())) << capture.error();
    for (const ExchangeRecord& r : exchanges()) {
        ASSERT_TRUE(capture.write(r));
        // Each exchange is in the file before the next one comes.
        EXPECT_EQ(live.bytes(), Bytes(EXPECTED.begin(),
                                      EXPECTED.begin() + static_cast<std::ptrdiff_t>(live.bytes().size())));
    }
    EXPECT_TRUE(capture.close());
    EXPECT_EQ(live.bytes(), EXPECTED);
    EXPECT_EQ(BusCapture::fileBytes(exchanges()), EXPECTED);
}

TEST(BusCapture, StrayBytesBusResetAndTheSnapLengthHaveTheirPackets) {
    ExchangeRecord stray;
    stray.end = ExchangeEnd::Stray;
    stray.firstUs = 500;
    stray.wallUs = T0;
    stray.received = 2;
    stray.answer[0] = 0x06;
    stray.answer[1] = 0x06;
    Bytes out;
    BusCapture::appendExchange(stray, out);
    BusCapture::appendPacket(T0, MDB_EVENT_BUS_RESET, nullptr, 0, out);
    const Bytes expected = {0x00, 0xF1, 0x53, 0x65, 0x64, 0x00, 0x00, 0x00, 0x05, 0x00, 0x00,
                            0x00, 0x05, 0x00, 0x00, 0x00, 0x00, 0xFE, 0x30, 0x06, 0x06, //
                            0x00, 0xF1, 0x53, 0x65, 0x64, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00,
                            0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0xFD};
    EXPECT_EQ(out, expected);

    // The longest answer kept fills the snap length exactly; more is not kept.
    ExchangeRecord optics = exchanges()[0];
    optics.received = 400;
    out.clear();
    BusCapture::appendExchange(optics, out);
    EXPECT_EQ(out.size(), 16 + 4 + 16 + CAPTURE_SNAPLEN + 16 + 3);
}

TEST(BusCapture, AFileThatCannotBeWrittenSaysWhy) {
    BusCapture capture;
    EXPECT_FALSE(capture.open("/nonexistent-dir/x.pcap"));
    EXPECT_NE(capture.error().find("/nonexistent-dir/x.pcap: "), std::string::npos) << capture.error();
    EXPECT_FALSE(capture.isOpen());
    // A full disk: the header cannot be handed over.
    if (fs::exists("/dev/full")) {
        EXPECT_FALSE(capture.open("/dev/full"));
        EXPECT_NE(capture.error().find("No space left"), std::string::npos) << capture.error();
        EXPECT_FALSE(capture.write(exchanges()[0]));
    }
}

TEST(BusCapture, OurReaderReadsWhatTheWriterWrote) {
    Bytes out;
    BusCapture::appendFileHeader(out);
    for (const ExchangeRecord& r : exchanges())
        BusCapture::appendExchange(r, out);
    TempFile file;
    std::ofstream(file.path, std::ios::binary)
        .write(reinterpret_cast<const char*>(out.data()), static_cast<std::streamsize>(out.size()));
    const test::PcapFile pcap = test::readPcap(file.path.string());
    ASSERT_TRUE(pcap.valid) << pcap.problem;
    EXPECT_EQ(pcap.linkType, 300u);
    ASSERT_EQ(pcap.packets.size(), 5u);
    EXPECT_EQ(pcap.packets[1].timeUs, 1700000000002600u);
    EXPECT_EQ(pcap.packets[1].event(), 0xFE);
    EXPECT_EQ(pcap.packets[1].data[2], 0x30);
    EXPECT_EQ(pcap.packets[1].wire(), (Bytes{0x90, 0x90}));
    EXPECT_EQ(pcap.packets[2].wire(), (Bytes{0x00}));
    EXPECT_EQ(pcap.packets[4].timeUs, 1700000001999999u);
}

TEST(BusCapture, StrayBytesReadWithTheAnswersLastByteGoBeforeTheAcknowledge) {
    // SETUP's 28 bytes and two more in one read: the acknowledge left after all of them.
    Bytes setup(27, 0x01);
    setup.push_back(0x1B);
    ExchangeRecord answer = record(1000, T0, {0x31, 0x31}, setup, 4000, 4300, ExchangeEnd::AckSent);
    answer.strayBeforeAck = true;
    ExchangeRecord stray = record(-1, T0 + 3000, {}, {0x06, 0x06}, 4000, -1, ExchangeEnd::Stray);
    const ExchangeRecord next =
        record(100000, T0 + 99000, {0x33, 0x33}, {0x00}, 101000, -1, ExchangeEnd::BareAck);
    TempFile live, saved;
    BusCapture capture;
    ASSERT_TRUE(capture.open(live.path.string()));
    for (const ExchangeRecord& r : {answer, stray, next})
        ASSERT_TRUE(capture.write(r));
    ASSERT_TRUE(capture.close());
    Bytes whole;
    BusCapture::appendFileHeader(whole);
    std::int64_t held = -1;
    for (const ExchangeRecord& r : {answer, stray, next})
        BusCapture::appendInTimeOrder(r, held, whole);
    BusCapture::appendHeldAck(held, whole);
    std::ofstream(saved.path, std::ios::binary)
        .write(reinterpret_cast<const char*>(whole.data()), static_cast<std::streamsize>(whole.size()));
    for (const TempFile* file : {&live, &saved}) {
        const test::PcapFile f = test::readPcap(file->path.string());
        ASSERT_EQ(f.packets.size(), 6u);
        EXPECT_EQ(f.packets[2].wire(), (Bytes{0x06, 0x06}));
        EXPECT_EQ(f.packets[3].wire(), (Bytes{0x00}));
        for (std::size_t i = 1; i < f.packets.size(); ++i)
            EXPECT_LE(f.packets[i - 1].timeUs, f.packets[i].timeUs) << i;
    }
}
