#pragma once

#include "WireFormat.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvex::sim {

enum class FailMode {
    None,
    Silent,  // no answer at all
    BadSum,  // the last byte (checksum, or the check value's low byte) is off by one
    Nak,     // MDB: NAK FF instead of the answer; loader: "#N" instead of "#A"
    Split,   // the answer leaves in `parts` writes, `gapMs` apart
    Garbage, // `garbageBytes` stray bytes before (or after) the answer
    Slow,    // `gapMs` between every two bytes
    Vanish,  // the adapter is unplugged: the pseudo-terminal master is closed
};

const char* failModeName(FailMode mode);
std::optional<FailMode> failModeFromName(const std::string& name);

struct Failure {
    FailMode mode = FailMode::None;
    int parts = 2;
    int gapMs = 10;
    int garbageBytes = 3;
    bool garbageAfter = false;
    bool vanishExit = true;
};

// One answer as it is to go on the wire, after any failure mode has changed its bytes.
struct Transmission {
    Bytes bytes;
    std::string kind;
    Failure failure;         // Split, Slow and Vanish are the sender's business
    bool expectsAck = false; // a data answer that the controller acknowledges with 00
};

// Failure modes chosen per command name ("poll", "setup", ... or "any") and count.
class CFailurePlan {
public:
    static constexpr int kAlways = -1;

    void add(const std::string& target, const Failure& failure, int count);
    void clear() { rules_.clear(); }

    // The failure that applies to the next answer to `target`, counting it down.
    std::optional<Failure> take(const std::string& target);

    // Applies a byte-changing failure (Silent, BadSum, Nak, Garbage) to the transmission.
    // `nak` is what Nak puts in place of the answer.
    static void apply(Transmission& tx, const Failure& failure, const Bytes& nak);

private:
    struct Rule {
        std::string target;
        Failure failure;
        int count;
    };
    std::vector<Rule> rules_;
};

} // namespace norvex::sim
