// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusDecoder.h"

#include "Controller.h"
#include "Format.h"
#include "RequestFrames.h"

namespace norvex::control {

namespace {

constexpr std::uint8_t ACK = 0x00;
constexpr std::uint8_t NAK = 0xFF;

const char* diagnosticsRecord(std::uint8_t function) {
    switch (function) {
    case DIAG_SENSORS:
        return "sensors";
    case DIAG_OPTICS:
        return "main optics";
    case DIAG_VIDEO:
        return "video test";
    case DIAG_STATISTICS:
        return "statistics";
    case DIAG_ERASE_STATISTICS:
        return "erase statistics";
    default:
        return nullptr;
    }
}

bool isDiagnostics(const std::uint8_t* f, std::size_t n) {
    return n >= 7 && f[0] == 0x37 && f[1] == 0xFF;
}

// Printable characters of a text field; anything else as '?'.
std::string text(const std::uint8_t* b, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i)
        s.push_back(b[i] >= 0x20 && b[i] < 0x7F ? static_cast<char>(b[i]) : '?');
    return s;
}

// Bill types whose bit is set in a 16-bit mask (bit i = type i).
std::string typeList(unsigned mask) {
    std::string s;
    for (int i = 0; i < 16; ++i) {
        if (!(mask & (1u << i))) continue;
        if (!s.empty()) s += ' ';
        s += std::to_string(i);
    }
    return s.empty() ? "none" : s;
}

std::string setupText(const std::uint8_t* d, BusSetup& setup) {
    setup.known = true;
    setup.scaling = static_cast<std::uint16_t>(d[3] << 8 | d[4]);
    setup.decimals = d[5];
    std::string credits;
    for (int i = 0; i < 16; ++i) {
        setup.credits[static_cast<std::size_t>(i)] = d[11 + i];
        if (d[11 + i] == 0) continue;
        credits += format(" %d=%s", i, billValue(d[11 + i], setup).c_str());
    }
    return format("level %u, country %04X, scaling %u, decimals %u, stacker %u, escrow %s; bill values:%s",
                  static_cast<unsigned>(d[0]), static_cast<unsigned>(d[1] << 8 | d[2]),
                  static_cast<unsigned>(setup.scaling), static_cast<unsigned>(setup.decimals),
                  static_cast<unsigned>(d[6] << 8 | d[7]), d[10] ? "yes" : "no",
                  credits.empty() ? " none" : credits.c_str());
}

std::string eventsText(const std::uint8_t* a, std::size_t statusBytes, const BusSetup& setup) {
    std::string s;
    for (std::size_t i = 0; i < statusBytes; ++i) {
        const std::uint8_t b = a[i];
        std::string event;
        if (b & 0x80 && b != NAK) {
            // The amount once: the bill's value from the SETUP answer; before one was seen the
            // value is unknown, and the bill type says which bill it was.
            event = Controller::routingText(b) + " ";
            if (setup.known)
                event += billValue(setup.credits[b & 0x0F], setup);
            else
                event += format("type %u (value unknown: no SETUP heard yet)", unsigned{b & 0x0Fu});
        } else {
            event = Controller::eventText(b, 0);
        }
        if (!s.empty()) s += "; ";
        s += event;
    }
    return s;
}

// The MDB name where the program's own differs from it, for readers who look for that one.
const char* mdbName(std::uint8_t code) {
    switch (code) {
    case 0x33:
        return "POLL";
    case 0x34:
        return "BILL TYPE";
    case 0x36:
        return "STACKER";
    default:
        return nullptr;
    }
}

} // namespace

std::string billValue(std::uint8_t credit, const BusSetup& setup) {
    const unsigned long long value = static_cast<unsigned long long>(credit) * setup.scaling;
    if (setup.decimals == 0 || setup.decimals > 9) return std::to_string(value);
    unsigned long long unit = 1;
    for (int i = 0; i < setup.decimals; ++i)
        unit *= 10;
    std::string fraction = std::to_string(value % unit);
    fraction.insert(0, setup.decimals - fraction.size(), '0');
    return std::to_string(value / unit) + "." + fraction;
}

ChecksumState checksumState(const std::uint8_t* bytes, std::size_t length) {
    if (length < 2) return ChecksumState::None;
    return frameChecksum(bytes, length - 1) == bytes[length - 1] ? ChecksumState::Good : ChecksumState::Bad;
}

std::string commandLabel(const std::uint8_t* f, std::size_t n) {
    if (n == 0) return {};
    if (n == 1 && f[0] == ACK) return "ACK";
    if (isDiagnostics(f, n)) {
        const char* record = diagnosticsRecord(f[6]);
        std::string label(commandName(0x38));
        label += ' ';
        label += record ? std::string(record) : format("%02X", unsigned{f[6]});
        return label;
    }
    if (f[0] == 0x37) {
        if (n < 2) return "EXPANSION";
        if (f[1] == 0x00) return std::string(commandName(0x37)) + " (IDENTIFICATION)";
        if (f[1] == 0x01) return "EXPANSION feature enable";
        return format("EXPANSION %02X", unsigned{f[1]});
    }
    const std::string_view name = commandName(f[0]);
    if (name.empty() || f[0] == 0x38) return format("unknown %02X", unsigned{f[0]});
    std::string label(name);
    if (const char* mdb = mdbName(f[0])) {
        label += " (";
        label += mdb;
        label += ')';
    }
    return label;
}

std::string commandFilterLabel(std::uint8_t code) {
    if (code == 0x37) return "37 EXPANSION: DEVICE_ID request, DIAGNOSTICS req.";
    const std::uint8_t frame[2] = {code, code};
    return format("%02X ", unsigned{code}) + commandLabel(frame, 2);
}

std::string frameMeaning(const std::uint8_t* f, std::size_t n) {
    if (n >= 5 && f[0] == 0x34)
        return format("enabled: %s; escrow: %s", typeList(static_cast<unsigned>(f[1] << 8 | f[2])).c_str(),
                      typeList(static_cast<unsigned>(f[3] << 8 | f[4])).c_str());
    if (n >= 2 && f[0] == 0x35) return f[1] ? "stack the bill" : "return the bill";
    return {};
}

std::string answerMeaning(const std::uint8_t* f, std::size_t fn, const std::uint8_t* a, std::size_t n,
                          BusSetup& setup) {
    if (n == 0) return {};
    if (n == 1) {
        if (a[0] == ACK) return "ACK";
        if (a[0] == NAK) return "NAK (frame refused)";
        return "one byte, no checksum";
    }
    const std::uint8_t command = fn > 0 ? f[0] : 0;
    if (command == 0x31 && n >= link::SETUP_LENGTH) return setupText(a, setup);
    if (command == 0x37 && fn >= 2 && f[1] == 0x00 && n >= 30)
        return format("maker %s, serial %s, model %s, software %02X%02X", text(a, 3).c_str(),
                      text(a + 3, 12).c_str(), text(a + 15, 12).c_str(), unsigned{a[27]}, unsigned{a[28]});
    if (command == 0x36 && n >= 3) {
        const unsigned status = static_cast<unsigned>(a[0] << 8 | a[1]);
        return format("stacker %s, %u bills", (status & 0x8000) ? "full" : "not full", status & 0x7FFF);
    }
    if (isDiagnostics(f, fn)) {
        const char* record = diagnosticsRecord(f[6]);
        if (f[6] != DIAG_ERASE_STATISTICS)
            return format("%s record, %zu data bytes", record ? record : "unknown", n - 1);
    }
    return eventsText(a, n - 1, setup);
}

} // namespace norvex::control
