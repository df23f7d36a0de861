#include "CFailurePlan.h"

namespace norvex::sim {

namespace {
struct ModeName {
    FailMode mode;
    const char* name;
};
const ModeName kModeNames[] = {
    {FailMode::Silent, "silent"}, {FailMode::BadSum, "badsum"},   {FailMode::Nak, "nak"},
    {FailMode::Split, "split"},   {FailMode::Garbage, "garbage"}, {FailMode::Slow, "slow"},
    {FailMode::Vanish, "vanish"},
};
} // namespace

const char* failModeName(FailMode mode) {
    for (const auto& m : kModeNames)
        if (m.mode == mode) return m.name;
    return "none";
}

std::optional<FailMode> failModeFromName(const std::string& name) {
    for (const auto& m : kModeNames)
        if (name == m.name) return m.mode;
    if (name == "refuse") return FailMode::Nak;
    if (name == "wrong") return FailMode::BadSum;
    return std::nullopt;
}

void CFailurePlan::add(const std::string& target, const Failure& failure, int count) {
    if (count == 0) return;
    rules_.push_back({target, failure, count});
}

std::optional<Failure> CFailurePlan::take(const std::string& target) {
    // The newest rule wins, so a later command overrides an earlier one.
    for (auto it = rules_.rbegin(); it != rules_.rend(); ++it) {
        if (it->target != target && it->target != "any") continue;
        Failure f = it->failure;
        if (it->count > 0 && --it->count == 0) rules_.erase(std::next(it).base());
        return f;
    }
    return std::nullopt;
}

void CFailurePlan::apply(Transmission& tx, const Failure& failure, const Bytes& nak) {
    tx.failure = failure;
    switch (failure.mode) {
    case FailMode::Silent:
        tx.bytes.clear();
        tx.expectsAck = false;
        break;
    case FailMode::BadSum:
        if (!tx.bytes.empty()) tx.bytes.back() = static_cast<std::uint8_t>(tx.bytes.back() + 1);
        break;
    case FailMode::Nak:
        tx.bytes = nak;
        tx.expectsAck = false;
        break;
    case FailMode::Garbage: {
        // Bytes that start no controller-side frame and are neither ACK nor NAK.
        static const std::uint8_t pattern[] = {0xE5, 0x5E, 0x7A, 0xC3, 0x19, 0xB6, 0x4D, 0x92};
        Bytes junk;
        for (int i = 0; i < failure.garbageBytes; ++i)
            junk.push_back(pattern[static_cast<std::size_t>(i) % sizeof pattern]);
        if (failure.garbageAfter)
            tx.bytes.insert(tx.bytes.end(), junk.begin(), junk.end());
        else
            tx.bytes.insert(tx.bytes.begin(), junk.begin(), junk.end());
        break;
    }
    default:
        break;
    }
}

} // namespace norvex::sim
