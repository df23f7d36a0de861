// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace norvex::download {

inline constexpr size_t HEADER_SIZE = 128;
inline constexpr size_t RECORD_SIZE = 133;
inline constexpr size_t GROUP_TABLE_OFFSET = 34;
inline constexpr size_t GROUP_TABLE_SIZE = 55;
inline constexpr size_t CHECK_VALUE_OFFSET = 126;
inline constexpr int RECORDS_PER_GROUP = 32;

using ImageHeader = std::array<uint8_t, HEADER_SIZE>;

// Number of groups: the bytes of the group table before its first 0xFF (55 when there is none).
int groupCount(const ImageHeader& header);
// The check value the loader must report: header bytes 126 (high) and 127 (low).
uint16_t expectedCheckValue(const ImageHeader& header);
// Bytes an image must hold at least: the header and 32 records per group.
size_t requiredImageSize(int groups);

// A firmware image file (".TVK"): the 128-byte header, then 32 x G records of 133 bytes
// (1 unused byte, 3 address bytes, 128 data bytes, 1 unused byte). Anything after the last record
// is ignored. The image is read whole and checked before the loader is contacted, so the loader
// never receives missing or stale data.
class FirmwareImage {
public:
    enum class Status { Ok, CannotOpen, TooShort };

    // Reads the image at path into the object; leaves it empty unless the result is Ok.
    Status load(const std::string& path);
    // The same from bytes already in memory.
    Status assign(std::span<const uint8_t> bytes);

    const ImageHeader& header() const { return header_; }
    int groups() const { return groups_; }
    int recordCount() const { return groups_ * RECORDS_PER_GROUP; }
    uint16_t expectedCheckValue() const { return download::expectedCheckValue(header_); }

    // Record i (0-based): its three address bytes and its 128 data bytes.
    std::span<const uint8_t, 3> recordAddress(int i) const;
    std::span<const uint8_t, 128> recordData(int i) const;

private:
    void clear();

    ImageHeader header_{};
    int groups_ = 0;
    std::vector<uint8_t> records_; // recordCount() x 133 bytes, as in the file
};

} // namespace norvex::download
