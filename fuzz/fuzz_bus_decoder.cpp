// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor's decoder on any exchanges: frames and answers as they might come off a
// line, one after another (a SETUP answer changes what later events are worth). What it says
// is printable text, and a checksum is called good exactly when it holds.
//
// Input: exchanges, each: frame length (0-15), the frame, answer length, the answer.

#include "ByteScript.h"
#include "control/BusDecoder.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace norvex::control;
using norvex::fuzz::ByteScript;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "bus decoder invariant broken: %s (%s)\n", what, detail.c_str());
    std::abort();
}

void printable(const char* what, const std::string& s) {
    for (unsigned char c : s)
        if (c < 0x20 || c > 0x7E) broken(what, s);
}

void checksum(const std::vector<std::uint8_t>& b) {
    const ChecksumState state = checksumState(b.data(), b.size());
    if (b.size() < 2) {
        if (state != ChecksumState::None)
            broken("a checksum on fewer than two bytes", std::to_string(b.size()));
        return;
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < b.size(); ++i)
        sum += b[i];
    const bool holds = (sum & 0xFF) == b.back();
    if ((state == ChecksumState::Good) != holds || state == ChecksumState::None) broken("checksum state", "");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteScript in(data, size);
    BusSetup setup;
    while (!in.empty()) {
        std::vector<std::uint8_t> frame(in.byte() % 16), answer;
        frame.resize(in.take(frame.data(), frame.size()));
        answer.resize(in.byte());
        answer.resize(in.take(answer.data(), answer.size()));
        printable("command label", commandLabel(frame.data(), frame.size()));
        printable("frame meaning", frameMeaning(frame.data(), frame.size()));
        printable("answer meaning",
                  answerMeaning(frame.data(), frame.size(), answer.data(), answer.size(), setup));
        if (setup.known) printable("bill value", billValue(static_cast<std::uint8_t>(answer.size()), setup));
        checksum(frame);
        checksum(answer);
    }
    return 0;
}
