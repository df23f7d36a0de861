// SPDX-License-Identifier: GPL-3.0-or-later
#include "Scenario.h"

#include "Records.h"

#include <algorithm>
#include <charconv>

namespace norvex::sim {

namespace {

const char* const FAIL_TARGETS[] = {"any",     "reset", "setup",   "security", "poll",   "billtype", "escrow",
                                    "stacker", "ident", "sensors", "optics",   "video",  "stats",    "erase",
                                    "hello",   "speed", "query",   "header",   "record", "check"};

bool toInt(const std::string& s, long long& value) {
    if (s.empty()) return false;
    auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
    return ec == std::errc() && ptr == s.data() + s.size();
}

ParseResult fail(const std::string& error) {
    ParseResult r;
    r.error = error;
    return r;
}

bool parseBytes(const std::vector<std::string>& words, std::size_t from, Bytes& out, std::string& error) {
    for (std::size_t i = from; i < words.size(); ++i) {
        auto b = parseHexByte(words[i]);
        if (!b) {
            error = "not a hexadecimal byte: " + words[i];
            return false;
        }
        out.push_back(*b);
    }
    return true;
}

} // namespace

bool isFailTarget(const std::string& name) {
    return std::find(std::begin(FAIL_TARGETS), std::end(FAIL_TARGETS), name) != std::end(FAIL_TARGETS);
}

ParseResult parseCommand(std::string_view line) {
    const auto words = splitWords(line);
    if (words.empty()) return fail("empty command");
    ParseResult r;
    Command& c = r.command;
    for (const auto& w : words)
        c.text += (c.text.empty() ? "" : " ") + w;
    const std::string& verb = words[0];
    long long n = 0;

    if (verb == "insert") {
        if (words.size() < 2 || words.size() > 3 || !toInt(words[1], n) || n < 0 || n > 15)
            return fail("usage: insert <type 0-15> [escrow|noescrow]");
        c.type = Command::Type::Insert;
        c.billType = static_cast<int>(n);
        if (words.size() == 3) {
            if (words[2] == "escrow")
                c.escrow = EscrowChoice::Escrow;
            else if (words[2] == "noescrow" || words[2] == "direct")
                c.escrow = EscrowChoice::NoEscrow;
            else
                return fail("usage: insert <type 0-15> [escrow|noescrow]");
        }
    } else if (verb == "coupon") {
        if (words.size() != 1) return fail("usage: coupon");
        c.type = Command::Type::Coupon;
    } else if (verb == "status") {
        c.type = Command::Type::Status;
        if (words.size() < 2 || !parseBytes(words, 1, c.bytes, r.error))
            return fail(r.error.empty() ? "usage: status <HH> [<HH> ...]" : r.error);
        if (std::find(c.bytes.begin(), c.bytes.end(), 0x00) != c.bytes.end())
            return fail("status 00 would read as an acknowledge");
    } else if (verb == "fail") {
        if (words.size() == 2 && words[1] == "clear") {
            c.type = Command::Type::FailClear;
            r.ok = true;
            return r;
        }
        if (words.size() < 3)
            return fail("usage: fail <command> <mode> [<count>|always] [parts=N] [gap=MS] [n=N] "
                        "[at=before|after|instead] [seed=N] [byte=N] [then=exit|stay]");
        if (!isFailTarget(words[1])) return fail("unknown command name for fail: " + words[1]);
        auto mode = failModeFromName(words[2]);
        if (!mode) return fail("unknown failure mode: " + words[2]);
        c.type = Command::Type::Fail;
        c.target = words[1];
        c.failure.mode = *mode;
        if (*mode == FailMode::Slow) c.failure.gapMs = 5;
        if (*mode == FailMode::Late) c.failure.gapMs = 8;
        if (*mode == FailMode::Noise) {
            // More than a short answer can hold, right in place of the answer.
            c.failure.garbageBytes = 40;
            c.failure.at = Placement::Instead;
            c.failure.gapMs = 0;
        }
        for (std::size_t i = 3; i < words.size(); ++i) {
            const std::string& w = words[i];
            const auto eq = w.find('=');
            if (eq == std::string::npos) {
                if (i != 3) return fail("unexpected word: " + w);
                if (w == "always")
                    c.count = FailurePlan::ALWAYS;
                else if (toInt(w, n) && n > 0 && n < 1000000)
                    c.count = static_cast<int>(n);
                else
                    return fail("count must be a positive number or 'always': " + w);
                continue;
            }
            const std::string key = w.substr(0, eq), value = w.substr(eq + 1);
            if (key == "then" && (value == "exit" || value == "stay")) {
                c.failure.vanishExit = value == "exit";
            } else if (key == "at" && (value == "before" || value == "after" ||
                                       (value == "instead" && *mode == FailMode::Noise))) {
                c.failure.at = value == "after"    ? Placement::After
                               : value == "before" ? Placement::Before
                                                   : Placement::Instead;
            } else if (key == "seed" && toInt(value, n) && n > 0 && n <= 0xFFFFFFFFll) {
                c.failure.seed = static_cast<std::uint32_t>(n);
            } else if (key == "byte" && toInt(value, n) && n >= 0 && n < 4096 &&
                       (*mode == FailMode::Flip || *mode == FailMode::Unmarked)) {
                c.failure.byte = static_cast<int>(n);
            } else if ((key == "parts" || key == "gap" || key == "n") && toInt(value, n) && n >= 0 &&
                       n <= 60000) {
                if (key == "parts")
                    c.failure.parts = std::max<int>(1, static_cast<int>(n));
                else if (key == "gap")
                    c.failure.gapMs = static_cast<int>(n);
                else
                    c.failure.garbageBytes = static_cast<int>(n);
            } else {
                return fail("bad option: " + w);
            }
        }
    } else if (verb == "record") {
        if (words.size() < 3 || !Records::isName(words[1]))
            return fail("usage: record <setup|ident|sensors|optics|video|stats> default|clear|set <offset> "
                        "<HH>...");
        c.type = Command::Type::Record;
        c.target = words[1];
        if (words[2] == "default" && words.size() == 3) {
            c.recordOp = Command::RecordOp::Default;
        } else if (words[2] == "clear" && words.size() == 3) {
            c.recordOp = Command::RecordOp::Clear;
        } else if (words[2] == "set" && words.size() >= 5 && toInt(words[3], n) && n >= 0 && n < 4096) {
            c.recordOp = Command::RecordOp::Set;
            c.offset = static_cast<std::size_t>(n);
            if (!parseBytes(words, 4, c.bytes, r.error)) return fail(r.error);
        } else {
            return fail("usage: record <name> default|clear|set <offset> <HH>...");
        }
    } else if (verb == "stacker") {
        c.type = Command::Type::Stacker;
        for (std::size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "full")
                c.stackerFull = 1;
            else if (words[i] == "notfull")
                c.stackerFull = 0;
            else if (toInt(words[i], n) && n >= 0 && n <= 0x7FFF)
                c.stackerCount = static_cast<int>(n);
            else
                return fail("usage: stacker [<count 0-32767>] [full|notfull]");
        }
        if (words.size() == 1) return fail("usage: stacker [<count 0-32767>] [full|notfull]");
    } else if (verb == "coin") {
        if (words.size() < 2 || words.size() > 3 || !toInt(words[1], n) || n < 0 || n > 15 ||
            (words.size() == 3 && words[2] != "tubes" && words[2] != "cashbox"))
            return fail("usage: coin <type 0-15> [tubes|cashbox]");
        c.type = Command::Type::Coin;
        c.billType = static_cast<int>(n);
        c.toTubes = words.size() < 3 || words[2] == "tubes";
    } else if (verb == "vmc") {
        static const char* const MODES[] = {"noack", "lateack", "ret", "nak", "busreset", "noise"};
        if (words.size() < 2 || std::find(std::begin(MODES), std::end(MODES), words[1]) == std::end(MODES))
            return fail(
                "usage: vmc noack|lateack|ret|nak|busreset|noise [<count>|always] [gap=MS] [n=N] [seed=N]");
        c.type = Command::Type::Controller;
        c.controllerMode = words[1];
        c.failure.gapMs = 8;
        c.failure.garbageBytes = 6;
        for (std::size_t i = 2; i < words.size(); ++i) {
            const std::string& w = words[i];
            const auto eq = w.find('=');
            if (eq == std::string::npos) {
                if (i != 2) return fail("unexpected word: " + w);
                if (w == "always")
                    c.count = FailurePlan::ALWAYS;
                else if (toInt(w, n) && n > 0 && n < 1000000)
                    c.count = static_cast<int>(n);
                else
                    return fail("count must be a positive number or 'always': " + w);
                continue;
            }
            const std::string key = w.substr(0, eq), value = w.substr(eq + 1);
            if (key == "seed" && toInt(value, n) && n > 0 && n <= 0xFFFFFFFFll)
                c.failure.seed = static_cast<std::uint32_t>(n);
            else if ((key == "gap" || key == "n") && toInt(value, n) && n >= 0 && n <= 60000)
                (key == "gap" ? c.failure.gapMs : c.failure.garbageBytes) = static_cast<int>(n);
            else
                return fail("bad option: " + w);
        }
    } else if (verb == "unplug") {
        if (words.size() != 2 || (words[1] != "controller" && words[1] != "peripherals"))
            return fail("usage: unplug controller|peripherals");
        c.type = Command::Type::Unplug;
        c.line = words[1];
    } else if (verb == "end") {
        if (words.size() != 1) return fail("usage: end");
        c.type = Command::Type::End;
    } else {
        return fail("unknown command: " + verb);
    }
    r.ok = true;
    return r;
}

bool parseScenario(std::string_view text, std::vector<ScenarioStep>& steps, std::string& error) {
    steps.clear();
    std::size_t lineNo = 0;
    while (!text.empty()) {
        const auto eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
        ++lineNo;
        const auto words = splitWords(line);
        if (words.empty() || words[0][0] == '#') continue;
        long long at = 0;
        if (words.size() < 3 || words[0] != "at" || !toInt(words[1], at) || at < 0) {
            error = "line " + std::to_string(lineNo) + ": expected 'at <ms> <command>'";
            return false;
        }
        const auto cmdStart = line.find(words[2], line.find(words[1]) + words[1].size());
        auto parsed = parseCommand(line.substr(cmdStart));
        if (!parsed.ok) {
            error = "line " + std::to_string(lineNo) + ": " + parsed.error;
            return false;
        }
        steps.push_back({at, parsed.command});
    }
    std::stable_sort(steps.begin(), steps.end(),
                     [](const ScenarioStep& a, const ScenarioStep& b) { return a.atMs < b.atMs; });
    return true;
}

} // namespace norvex::sim
