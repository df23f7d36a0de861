// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Loader.h"

#include <gtest/gtest.h>

using namespace norvex::sim;

namespace {

Bytes frame(std::uint8_t code) {
    return {'#', 'C', code, static_cast<std::uint8_t>(~code)};
}
const Bytes LOADER_ACK{'#', 'A'};

class Tool {
public:
    explicit Tool(Loader::Config config = {}) : loader(config) {}

    // Sends bytes and returns everything the loader answered, in order.
    Bytes send(const Bytes& bytes) {
        t += 1000;
        Bytes out;
        for (const auto& tx : loader.onBytes(bytes, t))
            out.insert(out.end(), tx.bytes.begin(), tx.bytes.end());
        return out;
    }
    // One block exchange; true when the loader acknowledged the block at the end.
    bool exchange(std::uint8_t code, const Bytes& address, const Bytes& block) {
        Bytes start = frame(code);
        start.insert(start.end(), address.begin(), address.end());
        EXPECT_EQ(send(start), LOADER_ACK);
        EXPECT_EQ(send(block), block);
        return send(LOADER_ACK) == LOADER_ACK;
    }

    Loader loader;
    std::int64_t t = 0;
};

Bytes block(std::uint8_t seed) {
    Bytes b(128);
    for (std::size_t i = 0; i < b.size(); ++i)
        b[i] = static_cast<std::uint8_t>(seed + 7 * i);
    return b;
}

} // namespace

TEST(SimLoader, CompleteDialogueKeepsHeaderAndRecordsAndAnswersTheirCheckValue) {
    Tool tool;
    EXPECT_EQ(tool.send(frame(0x08)), LOADER_ACK);
    Bytes speed = frame(0x83);
    speed.push_back(0x02);
    EXPECT_TRUE(tool.send(speed).empty());
    EXPECT_EQ(tool.loader.baud(), 38400);
    EXPECT_EQ(tool.send(frame(0x75)).size(), 2u);

    const Bytes header = block(0x11);
    EXPECT_TRUE(tool.exchange(0x20, {}, header));
    EXPECT_TRUE(tool.exchange(0x0C, {0x01, 0x80, 0x00}, block(0x22)));
    EXPECT_TRUE(tool.exchange(0x0C, {0x01, 0x80, 0x80}, block(0x33)));

    std::uint16_t crc = crc16Ccitt(block(0x22));
    crc = crc16Ccitt(block(0x33), crc);
    EXPECT_EQ(tool.send(frame(0x84)),
              (Bytes{static_cast<std::uint8_t>(crc >> 8), static_cast<std::uint8_t>(crc)}));

    Bytes expected = header;
    for (auto [addr, seed] :
         {std::pair<Bytes, std::uint8_t>{{0x01, 0x80, 0x00}, 0x22}, {{0x01, 0x80, 0x80}, 0x33}}) {
        expected.insert(expected.end(), addr.begin(), addr.end());
        const Bytes b = block(seed);
        expected.insert(expected.end(), b.begin(), b.end());
    }
    EXPECT_EQ(tool.loader.dump(), expected);
}

TEST(SimLoader, BytesArrivingOneByOneAndStrayBytesDoNotDisturbTheDialogue) {
    Tool tool;
    Bytes stream{0x55, 0x23, 0x43, 0x08, 0x00}; // a frame with a wrong complement, then noise
    stream.insert(stream.end(), {'#', 'C', 0x20, 0xDF});
    Bytes answers;
    for (auto b : stream) {
        const Bytes a = tool.send({b});
        answers.insert(answers.end(), a.begin(), a.end());
    }
    EXPECT_EQ(answers, LOADER_ACK); // only the header frame was answered
    const Bytes header = block(0x40);
    answers.clear();
    for (auto b : header) {
        const Bytes a = tool.send({b});
        answers.insert(answers.end(), a.begin(), a.end());
    }
    EXPECT_EQ(answers, header);
    EXPECT_EQ(tool.send({'#'}), Bytes{});
    EXPECT_EQ(tool.send({'A'}), LOADER_ACK);
    EXPECT_TRUE(tool.loader.hasHeader());
}

TEST(SimLoader, FailureModesRefuseHandshakesAndBlocksAndSpoilTheCheckValue) {
    Tool tool;
    Failure refuse;
    refuse.mode = FailMode::Nak;
    tool.loader.failures().add("hello", refuse, 1);
    EXPECT_EQ(tool.send(frame(0x08)), (Bytes{'#', 'N'}));
    EXPECT_EQ(tool.send(frame(0x08)), LOADER_ACK);

    tool.loader.failures().add("record", refuse, 2);
    EXPECT_TRUE(tool.exchange(0x20, {}, block(1)));
    EXPECT_FALSE(tool.exchange(0x0C, {0, 0, 0}, block(2)));
    EXPECT_FALSE(tool.exchange(0x0C, {0, 0, 0}, block(2)));
    EXPECT_TRUE(tool.exchange(0x0C, {0, 0, 0}, block(2)));
    EXPECT_EQ(tool.loader.records().size(), 1u); // kept once, when acknowledged

    Failure wrong;
    wrong.mode = FailMode::BadSum;
    tool.loader.failures().add("check", wrong, 1);
    const std::uint16_t good = tool.loader.checkValue();
    const Bytes answer = tool.send(frame(0x84));
    ASSERT_EQ(answer.size(), 2u);
    EXPECT_NE(answer[0] << 8 | answer[1], good);

    Failure silent;
    silent.mode = FailMode::Silent;
    tool.loader.failures().add("any", silent, 1);
    EXPECT_TRUE(tool.send(frame(0x08)).empty());
}

TEST(SimLoader, AStalledExchangeIsAbandonedAndANewHeaderStartsANewImage) {
    Tool tool;
    EXPECT_TRUE(tool.exchange(0x20, {}, block(1)));
    EXPECT_TRUE(tool.exchange(0x0C, {0, 0, 1}, block(2)));
    EXPECT_EQ(tool.send(frame(0x0C)), Bytes{});
    tool.loader.tick(tool.t + 3'000'000);
    // Back to frame search: the bytes of a half-sent record are not taken for its address.
    EXPECT_EQ(tool.send(frame(0x08)), LOADER_ACK);
    EXPECT_TRUE(tool.exchange(0x20, {}, block(9)));
    EXPECT_TRUE(tool.loader.records().empty());
    EXPECT_EQ(tool.loader.headersAccepted(), 2u);
}

TEST(SimLoader, CheckValueModes) {
    Bytes header = block(5);
    header[126] = 0xAB;
    header[127] = 0xCD;
    Loader::Config cfg;
    cfg.check = Loader::CheckMode::Header;
    Tool fromHeader(cfg);
    fromHeader.exchange(0x20, {}, header);
    EXPECT_EQ(fromHeader.loader.checkValue(), 0xABCD);

    // CRC-16/CCITT-FALSE check value of "123456789".
    const std::string nine = "123456789";
    EXPECT_EQ(crc16Ccitt(Bytes(nine.begin(), nine.end())), 0x29B1);
}
