// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "WireFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvex::sim {

enum class FailMode {
    None,
    Silent,   // no answer at all
    BadSum,   // the last byte (checksum, or the check value's low byte) is off by one
    Nak,      // MDB: NAK FF instead of the answer; loader: "#N" instead of "#A"
    Split,    // the answer leaves in `parts` writes, `gapMs` apart
    Garbage,  // `garbageBytes` stray bytes before (or after) the answer
    Slow,     // `gapMs` between every two bytes
    Vanish,   // the adapter is unplugged: the pseudo-terminal master is closed
    Noise,    // `garbageBytes` random bytes instead of the answer (or after it, `gapMs` later)
    Flip,     // data byte `byte` (default: the middle one) hit on the line, the checksum unchanged
    Unmarked, // marked form: from byte `byte` (default 1) on, the driver stops marking the bytes
    Late,     // the answer begins `gapMs` after the frame instead of at once
};

// Where stray bytes go: garbage before or after the answer, noise instead of it or after it.
enum class Placement { Before, After, Instead };

const char* failModeName(FailMode mode);
std::optional<FailMode> failModeFromName(const std::string& name);

struct Failure {
    FailMode mode = FailMode::None;
    int parts = 2;
    int gapMs = 10;
    int garbageBytes = 3;
    Placement at = Placement::Before;
    bool vanishExit = true;
    std::uint32_t seed = 0; // Noise: restarts the noise sequence when not 0
    int byte = -1;          // Flip, Unmarked: which byte of the answer (-1: the mode's default)
};

// One answer as it is to go on the wire, after any failure mode has changed its bytes.
struct Transmission {
    Bytes bytes;
    // The MDB mode bit of each byte (1 on the last byte of the answer, 0 elsewhere, at random in
    // noise); empty where there is none (the loader).
    Bytes modeBits;
    std::string kind;
    Failure failure;           // Split, Slow, Vanish and the gap before noise are the sender's business
    std::size_t gapBefore = 0; // Noise after the answer: the byte that follows the gap
    bool expectsAck = false;   // a data answer that the controller acknowledges with 00
};

// Failure modes chosen per command name ("poll", "setup", ... or "any") and count.
class FailurePlan {
public:
    static constexpr int ALWAYS = -1;

    void add(const std::string& target, const Failure& failure, int count);
    void clear() { rules_.clear(); }

    // The failure that applies to the next answer to `target`, counting it down.
    std::optional<Failure> take(const std::string& target);

    // Applies a byte-changing failure (Silent, BadSum, Nak, Garbage, Noise) to the transmission.
    // `nak` is what Nak puts in place of the answer.
    void apply(Transmission& tx, const Failure& failure, const Bytes& nak);

    // Noise: `n` random bytes, the first never 00 or FF (which a controller must take for an
    // ACK or NAK), each with a random mode bit in `modeBits`.
    Bytes noise(std::size_t n, Bytes& modeBits);

private:
    struct Rule {
        std::string target;
        Failure failure;
        int count;
    };
    std::vector<Rule> rules_;
    std::uint32_t random_ = 0x2545F491; // xorshift32 state of the noise sequence
};

} // namespace norvex::sim
