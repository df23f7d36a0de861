// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor's command line on any text: what it accepts is a bill-validator command of
// its length with the right checksum, and reads back the same from its own hex.
//
// Input: the text typed.

#include "control/TypedFrame.h"

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace norvex::control;

namespace {

[[noreturn]] void broken(const char* what, const std::string& text) {
    std::fprintf(stderr, "typed frame invariant broken: %s (\"%s\")\n", what, text.c_str());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    TypedFrame frame;
    std::string reason;
    if (!parseTypedFrame(text, frame, reason)) {
        if (reason.empty()) broken("refused without a reason", text);
        return 0;
    }
    if (frame.length < 2 || frame.length > frame.bytes.size()) broken("length", text);
    if (frame.bytes[0] < 0x30 || frame.bytes[0] > 0x37) broken("not a bill-validator command", text);
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < frame.length; ++i)
        sum += frame.bytes[i];
    if ((sum & 0xFF) != frame.bytes[frame.length - 1]) broken("checksum", text);
    // The frame as hex, checksum included, is the same frame.
    std::string hex;
    for (std::size_t i = 0; i < frame.length; ++i) {
        char b[4];
        std::snprintf(b, sizeof b, "%02X ", frame.bytes[i]);
        hex += b;
    }
    TypedFrame again;
    if (!parseTypedFrame(hex, again, reason) || again.length != frame.length || again.bytes != frame.bytes)
        broken("its own hex reads otherwise", hex);
    return 0;
}
