// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Received bytes as a port delivers them with input checking and parity marking (INPCK | PARMRK):
// a byte that arrived with a parity or framing error, which on the MDB line means a mode bit of 0,
// comes as FF 00 x; an ordinary FF comes doubled as FF FF; every other byte comes as itself (a
// line break reads as FF 00 00). MarkedInput turns that stream back into the bytes on the wire,
// each with its mark. An escape may be split between two reads, so the decoder keeps its state
// from one read to the next until the port is purged.

#include <cstddef>
#include <cstdint>

namespace norvex::link {

struct LineByte {
    std::uint8_t value = 0;
    bool marked = false; // the driver flagged the byte: its mode bit was 0
};

class MarkedInput {
public:
    // Decodes `n` delivered bytes into `out`, which has room for `n` entries, and returns how
    // many bytes came out. An escape that is not finished yet waits for the next call.
    std::size_t decode(const std::uint8_t* delivered, std::size_t n, LineByte* out);

    // Forgets an unfinished escape: the input it belonged to has been purged.
    void reset() { state_ = State::Plain; }

    bool midEscape() const { return state_ != State::Plain; }

private:
    enum class State : std::uint8_t {
        Plain,   // between bytes
        Escape,  // after FF
        Flagged, // after FF 00: the next byte is a flagged one
    };
    State state_ = State::Plain;
};

} // namespace norvex::link
