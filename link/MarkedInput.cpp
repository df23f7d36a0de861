// SPDX-License-Identifier: GPL-3.0-or-later
#include "MarkedInput.h"

namespace norvex::link {

std::size_t MarkedInput::decode(const std::uint8_t* in, std::size_t n, LineByte* out) {
    std::size_t produced = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t b = in[i];
        switch (state_) {
        case State::Plain:
            if (b == 0xFF)
                state_ = State::Escape;
            else
                out[produced++] = {b, false};
            break;
        case State::Escape:
            if (b == 0xFF) {
                out[produced++] = {0xFF, false};
                state_ = State::Plain;
            } else if (b == 0x00) {
                state_ = State::Flagged;
            } else {
                // The line discipline never sends this; take the FF as an ordinary byte rather
                // than lose it, and look at this byte afresh.
                out[produced++] = {0xFF, false};
                state_ = State::Plain;
                --i;
            }
            break;
        case State::Flagged:
            out[produced++] = {b, true};
            state_ = State::Plain;
            break;
        }
    }
    return produced;
}

} // namespace norvex::link
