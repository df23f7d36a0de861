// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a classic pcap file of the MDB link type back into packets, for the tests: our own
// reading of the format, independent of the writer's code.

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace norvex::test {

struct PcapPacket {
    std::uint64_t timeUs = 0;
    std::uint32_t originalLength = 0;
    std::vector<std::uint8_t> data; // pseudo-header included
    std::uint8_t event() const { return data.size() > 1 ? data[1] : 0; }
    // The bytes on the wire after the pseudo-header (version, event, and for data from the
    // peripheral its address).
    std::vector<std::uint8_t> wire() const {
        const std::size_t skip = event() == 0xFE ? 3 : 2;
        return data.size() >= skip ? std::vector<std::uint8_t>(data.begin() + skip, data.end())
                                   : std::vector<std::uint8_t>{};
    }
};

struct PcapFile {
    bool valid = false;
    std::string problem;
    std::uint32_t linkType = 0, snapLength = 0;
    std::vector<PcapPacket> packets;
};

inline std::uint32_t le32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at]) | static_cast<std::uint32_t>(b[at + 1]) << 8 |
           static_cast<std::uint32_t>(b[at + 2]) << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}

inline PcapFile readPcap(const std::string& path) {
    PcapFile f;
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::uint8_t> b((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (b.size() < 24 || le32(b, 0) != 0xA1B2C3D4u) {
        f.problem = "no little-endian microsecond pcap header";
        return f;
    }
    if (b[4] != 2 || b[5] != 0 || b[6] != 4 || b[7] != 0) {
        f.problem = "not version 2.4";
        return f;
    }
    f.snapLength = le32(b, 16);
    f.linkType = le32(b, 20);
    std::size_t at = 24;
    while (at < b.size()) {
        if (b.size() - at < 16) {
            f.problem = "a packet header is cut off";
            return f;
        }
        PcapPacket p;
        const std::uint32_t usec = le32(b, at + 4);
        if (usec >= 1000000) {
            f.problem = "microseconds out of range";
            return f;
        }
        p.timeUs = static_cast<std::uint64_t>(le32(b, at)) * 1000000u + usec;
        const std::uint32_t captured = le32(b, at + 8);
        p.originalLength = le32(b, at + 12);
        if (captured > f.snapLength || captured > p.originalLength || b.size() - at - 16 < captured) {
            f.problem = "a packet's length does not fit";
            return f;
        }
        p.data.assign(b.begin() + static_cast<std::ptrdiff_t>(at + 16),
                      b.begin() + static_cast<std::ptrdiff_t>(at + 16 + captured));
        f.packets.push_back(std::move(p));
        at += 16 + captured;
    }
    f.valid = true;
    return f;
}

} // namespace norvex::test
