// SPDX-License-Identifier: GPL-3.0-or-later
// What the bus monitor says about frames and answers, and which typed frames go out.

#include "control/BusDecoder.h"
#include "control/TypedFrame.h"

#include <gtest/gtest.h>

#include <vector>

using namespace norvex::control;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::string answer(const Bytes& frame, const Bytes& bytes, BusSetup& setup) {
    return answerMeaning(frame.data(), frame.size(), bytes.data(), bytes.size(), setup);
}

// A SETUP answer: level 1, country 0x1978, scaling 50, 2 decimals, stacker 400, escrow; bill
// types 0, 1 and 3 with credits 10, 20 and 100.
Bytes setupAnswer() {
    Bytes d = {0x01, 0x19, 0x78, 0x00, 0x32, 0x02, 0x01, 0x90, 0xFF, 0xFF, 0xFF, 10, 20, 0,
               100,  0,    0,    0,    0,    0,    0,    0,    0,    0,    0,    0,  0};
    std::uint8_t sum = 0;
    for (std::uint8_t b : d)
        sum = static_cast<std::uint8_t>(sum + b);
    d.push_back(sum);
    return d;
}

std::string typed(const std::string& text, std::string* reason = nullptr) {
    TypedFrame f;
    std::string why;
    if (!parseTypedFrame(text, f, why)) {
        if (reason) *reason = why;
        return "refused";
    }
    std::string s;
    for (std::size_t i = 0; i < f.length; ++i) {
        if (i) s += ' ';
        s += std::to_string(f.bytes[i]);
    }
    return s;
}

} // namespace

TEST(BusDecoder, FramesAreNamedInTheCommandHistorysWordsWithTheMdbNameBeside) {
    const struct {
        Bytes frame;
        const char* label;
    } cases[] = {
        {{0x33, 0x33}, "STATUS request (POLL)"},
        {{0x00}, "ACK"},
        {{0x30, 0x30}, "RESET validator"},
        {{0x34, 0x00, 0x0B, 0x00, 0x01, 0x40}, "TYPE_ESCR enable (BILL TYPE)"},
        {{0x36, 0x36}, "CASS_INFO request (STACKER)"},
        {{0x37, 0xFF, 'V', 'N', 'T', 0x00, 0xDD, 0x42}, "DIAGNOSTICS req. statistics"},
        {{0x37, 0x00, 0x37}, "DEVICE_ID request (IDENTIFICATION)"},
        {{0x37, 0x01, 0, 0, 0, 0, 0x38}, "EXPANSION feature enable"},
        {{0x37, 0x05, 0x3C}, "EXPANSION 05"},
        {{0x3A, 0x3A}, "unknown 3A"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(commandLabel(c.frame.data(), c.frame.size()), c.label);
    // The monitor's filter and the typed frame's refusals use the same name.
    EXPECT_EQ(commandFilterLabel(0x33), "33 STATUS request (POLL)");
    std::string why;
    EXPECT_EQ(typed("33 33 33", &why), "refused");
    EXPECT_EQ(why, "STATUS request (POLL) takes 1 byte and its checksum, not 3 bytes");

    const Bytes billType{0x34, 0x00, 0x0B, 0x00, 0x01, 0x40}, stack{0x35, 0x01, 0x36}, give{0x35, 0x00, 0x35};
    EXPECT_EQ(frameMeaning(billType.data(), billType.size()), "enabled: 0 1 3; escrow: 0");
    EXPECT_EQ(frameMeaning(stack.data(), stack.size()), "stack the bill");
    EXPECT_EQ(frameMeaning(give.data(), give.size()), "return the bill");
}

TEST(BusDecoder, EachKindOfAnswerSaysWhatItMeans) {
    BusSetup setup;
    const Bytes poll{0x33, 0x33}, setupFrame{0x31, 0x31};
    EXPECT_EQ(answer(poll, {0x00}, setup), "ACK");
    EXPECT_EQ(answer(poll, {0xFF}, setup), "NAK (frame refused)");
    // Before any SETUP the bill values are unknown: the event texts alone.
    EXPECT_EQ(answer(poll, {0x90, 0x90}, setup),
              "bill escrowed : type 0 (value unknown: no SETUP heard yet)");
    EXPECT_EQ(answer(poll, {0x83, 0x83}, setup), "bill stacked : type 3 (value unknown: no SETUP heard yet)");
    EXPECT_EQ(answer(poll, {0x06, 0x03, 0x09}, setup), "validator reset; validator busy");

    EXPECT_EQ(answer(setupFrame, setupAnswer(), setup),
              "level 1, country 1978, scaling 50, decimals 2, stacker 400, escrow yes; bill values: 0=5.00 "
              "1=10.00 3=50.00");
    ASSERT_TRUE(setup.known);
    // From then on events carry their value once: credit times scaling, with the decimal places.
    EXPECT_EQ(answer(poll, {0x83, 0x01, 0x84}, setup), "bill stacked : 50.00; defective motor");
    EXPECT_EQ(answer(poll, {0x91, 0x91}, setup), "bill escrowed : 10.00");
    EXPECT_EQ(answer(poll, {0x41, 0x41}, setup), "disabled bill attempts: 1");

    Bytes ident = {'V', 'N', 'T'};
    for (const char* part : {"000012345678", "BV2.14-7    "})
        for (const char* c = part; *c; ++c)
            ident.push_back(static_cast<std::uint8_t>(*c));
    ident.push_back(0x02);
    ident.push_back(0x14);
    ident.push_back(0x00); // checksum, not looked at here
    EXPECT_EQ(answer({0x37, 0x00, 0x37}, ident, setup),
              "maker VNT, serial 000012345678, model BV2.14-7    , software 0214");
    EXPECT_EQ(answer({0x36, 0x36}, {0x80, 0x12, 0x92}, setup), "stacker full, 18 bills");
    EXPECT_EQ(answer({0x37, 0xFF, 'V', 'N', 'T', 0x00, 0xE9, 0xDF}, Bytes(28, 0x01), setup),
              "sensors record, 27 data bytes");
}

TEST(BusDecoder, BillValuesAndChecksums) {
    BusSetup s;
    s.scaling = 5;
    s.decimals = 1;
    EXPECT_EQ(billValue(3, s), "1.5");
    s.decimals = 3;
    EXPECT_EQ(billValue(1, s), "0.005");
    s.decimals = 0;
    EXPECT_EQ(billValue(200, s), "1000");
    const Bytes good{0x90, 0x03, 0x93}, bad{0x90, 0x03, 0x94}, one{0x00};
    EXPECT_EQ(checksumState(good.data(), good.size()), ChecksumState::Good);
    EXPECT_EQ(checksumState(bad.data(), bad.size()), ChecksumState::Bad);
    EXPECT_EQ(checksumState(one.data(), one.size()), ChecksumState::None);
}

TEST(TypedFrame, BillValidatorFramesGetTheirChecksum) {
    EXPECT_EQ(typed("33"), "51 51");
    EXPECT_EQ(typed("33 33"), "51 51");
    EXPECT_EQ(typed("35 01"), "53 1 54");
    EXPECT_EQ(typed("34FFFF0000"), "52 255 255 0 0 50");
    EXPECT_EQ(typed(" 37 00 "), "55 0 55");
    EXPECT_EQ(typed("37 ff 56 4e 54 00 dd"), "55 255 86 78 84 0 221 11");
}

TEST(TypedFrame, AnythingElseIsRefusedWithAReason) {
    std::string why;
    EXPECT_EQ(typed("", &why), "refused");
    EXPECT_EQ(why, "no bytes typed");
    EXPECT_EQ(typed("0B 0B", &why), "refused");
    EXPECT_EQ(why, "0B is not a bill-validator command (30 to 37)");
    EXPECT_EQ(typed("33 34", &why), "refused");
    EXPECT_EQ(why, "the checksum should be 33, not 34");
    EXPECT_EQ(typed("34 FF", &why), "refused");
    EXPECT_EQ(why, "TYPE_ESCR enable (BILL TYPE) takes 5 bytes and its checksum, not 2 bytes");
    EXPECT_EQ(typed("37 05", &why), "refused");
    EXPECT_EQ(why, "37 05 is not a bill-validator EXPANSION command");
    EXPECT_EQ(typed("37", &why), "refused"); // nothing is read past the one byte typed
    EXPECT_EQ(why, "EXPANSION takes 2 bytes and its checksum, not 1 byte");
    // Bill-validator commands whose data answers the link does not take: left unacknowledged,
    // the validator would repeat them into the next POLL.
    EXPECT_EQ(typed("37 02", &why), "refused");
    EXPECT_EQ(why, "37 02 is answered with data the link does not take");
    EXPECT_EQ(typed("37 FF 56 4E 54 00 AA", &why), "refused");
    EXPECT_EQ(why, "diagnostics function AA: the link does not take its answer");
    EXPECT_EQ(typed("3", &why), "refused");
    EXPECT_EQ(typed("33 3G", &why), "refused");
    EXPECT_EQ(typed("30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30 30", &why), "refused");
    EXPECT_EQ(why, "longer than any bill-validator frame");
}
