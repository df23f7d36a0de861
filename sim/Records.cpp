// SPDX-License-Identifier: GPL-3.0-or-later
#include "Records.h"

#include <cstring>

namespace norvex::sim {

namespace {

void put16be(Bytes& b, std::size_t at, unsigned v) {
    b[at] = static_cast<std::uint8_t>(v >> 8);
    b[at + 1] = static_cast<std::uint8_t>(v);
}

Bytes defaultSetup() {
    Bytes b(Records::SETUP_SIZE, 0);
    b[0] = 0x01;           // feature level 1
    put16be(b, 1, 0x1978); // country code: 1 followed by the currency number 978
    put16be(b, 3, 100);    // scaling factor
    b[5] = 2;              // decimal places
    put16be(b, 6, 400);    // stacker capacity
    put16be(b, 8, 0x000C); // bill security levels: high security for types 2 and 3
    b[10] = 0xFF;          // escrow capability
    const std::uint8_t credits[Records::BILL_TYPES] = {1, 2, 5, 10, 20, 50, 100, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    std::memcpy(&b[11], credits, sizeof credits);
    return b;
}

Bytes defaultIdent() {
    Bytes b;
    const char* maker = "VNT";
    const char* serial = "TVK202604171"; // 12 characters
    const char* revision = "BV2.14-7";   // 8 characters, bytes 15 to 22
    const char* modelRest = "EU6 ";      // rest of the 12-character model field, bytes 23 to 26
    for (const char* s : {maker, serial, revision, modelRest})
        b.insert(b.end(), s, s + std::strlen(s));
    b.push_back(0x02); // software version, BCD
    b.push_back(0x14);
    return b;
}

Bytes defaultSensors() {
    Bytes b(Records::SENSORS_SIZE, 0);
    for (unsigned g = 0; g < 5; ++g) {
        put16be(b, 5 * g, 0x0123 + 0x0111 * g);                      // gain
        b[5 * g + 2] = static_cast<std::uint8_t>(100 + 11 * g);      // target
        b[5 * g + 3] = static_cast<std::uint8_t>(97 + 13 * g);       // reading
        b[5 * g + 4] = static_cast<std::uint8_t>(g % 2 ? 0 : g + 1); // status: open, closed, ...
    }
    b[25] = 24; // temperature at calibration
    b[26] = 31; // present temperature
    return b;
}

Bytes defaultOptics() {
    Bytes b(Records::OPTICS_SIZE, 0);
    for (unsigned k = 0; k < 28; ++k) {
        b[k] = static_cast<std::uint8_t>(100 + k);                // reflective white
        b[28 + k] = static_cast<std::uint8_t>(130 + k);           // transmissive white
        b[56 + k] = static_cast<std::uint8_t>(10 + k);            // reflective black
        b[84 + k] = static_cast<std::uint8_t>(40 + k);            // transmissive black
        put16be(b, 112 + 2 * k, 0x0400 + 0x0111 * k);             // transmissive gain
        put16be(b, 168 + 2 * k, 0x0A00 + 0x0013 * k);             // reflective gain
        b[224 + 2 * k] = static_cast<std::uint8_t>(0xE0 + k / 2); // unused first byte of each pair
        b[225 + 2 * k] = static_cast<std::uint8_t>(70 + k);       // transmissive emitter
        b[280 + 2 * k] = static_cast<std::uint8_t>(0xF0 - k / 2);
        b[281 + 2 * k] = static_cast<std::uint8_t>(200 + k); // reflective emitter
    }
    return b;
}

Bytes defaultVideo() {
    // Five samples, each by channel, colour, then the reflective and transmissive level; the
    // averages land on the page's scales (reflective 190-250, transmissive 50-110).
    Bytes b(Records::VIDEO_SIZE, 0);
    for (unsigned s = 0; s < 5; ++s)
        for (unsigned ch = 0; ch < 7; ++ch)
            for (unsigned col = 0; col < 4; ++col) {
                const std::size_t i = 2 * (28 * s + 4 * ch + col);
                b[i] = static_cast<std::uint8_t>(196 + 2 * ch + col + s);
                b[i + 1] = static_cast<std::uint8_t>(56 + 2 * ch + col + 2 * s);
            }
    return b;
}

} // namespace

bool Records::isName(const std::string& name) {
    return name == "setup" || name == "ident" || name == "sensors" || name == "optics" || name == "video" ||
           name == "stats";
}

Bytes* Records::buffer(const std::string& name) {
    return const_cast<Bytes*>(static_cast<const Records*>(this)->buffer(name));
}

const Bytes* Records::buffer(const std::string& name) const {
    if (name == "setup") return &setup_;
    if (name == "ident") return &ident_;
    if (name == "sensors") return &sensors_;
    if (name == "optics") return &optics_;
    if (name == "video") return &video_;
    return nullptr;
}

bool Records::restoreDefault(const std::string& name) {
    const bool all = name == "all";
    if (all || name == "setup") setup_ = defaultSetup();
    if (all || name == "ident") ident_ = defaultIdent();
    if (all || name == "sensors") sensors_ = defaultSensors();
    if (all || name == "optics") optics_ = defaultOptics();
    if (all || name == "video") video_ = defaultVideo();
    if (all || name == "stats") {
        for (std::size_t t = 0; t < BILL_TYPES; ++t)
            billsAccepted[t] = static_cast<std::uint16_t>(0x0102 + 0x0123 * t);
        for (std::size_t e = 0; e < EVENT_KINDS; ++e)
            eventCount[e] = static_cast<std::uint16_t>(0x0201 + 0x0035 * e);
        stackerCount = 66;
        stackerFull = false;
    }
    return all || isName(name);
}

bool Records::clear(const std::string& name) {
    if (name == "stats") {
        eraseStatistics();
        return true;
    }
    Bytes* b = buffer(name);
    if (!b) return false;
    std::fill(b->begin(), b->end(), 0);
    return true;
}

bool Records::patch(const std::string& name, std::size_t offset, const Bytes& bytes, std::string& error) {
    Bytes current = data(name);
    if (!isName(name)) {
        error = "unknown record " + name;
        return false;
    }
    if (offset + bytes.size() > current.size()) {
        error = "record " + name + " has " + std::to_string(current.size()) + " data bytes";
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), current.begin() + static_cast<std::ptrdiff_t>(offset));
    if (name == "stats") {
        for (std::size_t i = 0; i < BILL_TYPES; ++i)
            billsAccepted[i] = static_cast<std::uint16_t>(current[2 * i] | current[2 * i + 1] << 8);
        for (std::size_t i = 0; i < EVENT_KINDS; ++i)
            eventCount[i] = static_cast<std::uint16_t>(current[32 + 2 * i] | current[33 + 2 * i] << 8);
    } else {
        *buffer(name) = current;
    }
    return true;
}

Bytes Records::data(const std::string& name) const {
    if (name == "stats") {
        Bytes b;
        for (auto v : billsAccepted) {
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        for (auto v : eventCount) {
            b.push_back(static_cast<std::uint8_t>(v));
            b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
        return b;
    }
    const Bytes* b = buffer(name);
    return b ? *b : Bytes{};
}

Bytes Records::answer(const std::string& name) const {
    Bytes b = data(name);
    appendChecksum(b);
    return b;
}

void Records::countEvent(int eventNumber) {
    auto& c = eventCount[static_cast<std::size_t>(eventNumber - 1)];
    if (c < 0xFFFF) ++c;
}

void Records::countAccepted(int type) {
    auto& c = billsAccepted[static_cast<std::size_t>(type)];
    if (c < 0xFFFF) ++c;
    if (stackerCount < 0x7FFF) ++stackerCount;
}

void Records::eraseStatistics() {
    billsAccepted.fill(0);
    eventCount.fill(0);
}

Bytes Records::stackerAnswer() const {
    const unsigned v = (stackerFull ? 0x8000u : 0u) | (stackerCount & 0x7FFFu);
    Bytes b{static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    appendChecksum(b);
    return b;
}

} // namespace norvex::sim
