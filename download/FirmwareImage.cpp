// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/FirmwareImage.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace norvex::download {

int groupCount(const ImageHeader& header) {
    const auto first = header.begin() + GROUP_TABLE_OFFSET;
    const auto last = first + GROUP_TABLE_SIZE;
    return static_cast<int>(std::find(first, last, uint8_t{0xFF}) - first);
}

uint16_t expectedCheckValue(const ImageHeader& header) {
    return static_cast<uint16_t>(header[CHECK_VALUE_OFFSET] << 8 | header[CHECK_VALUE_OFFSET + 1]);
}

size_t requiredImageSize(int groups) {
    return HEADER_SIZE + RECORD_SIZE * static_cast<size_t>(groups) * RECORDS_PER_GROUP;
}

void FirmwareImage::clear() {
    header_.fill(0);
    groups_ = 0;
    records_.clear();
}

FirmwareImage::Status FirmwareImage::assign(std::span<const uint8_t> bytes) {
    clear();
    if (bytes.size() < HEADER_SIZE) return Status::TooShort;
    ImageHeader header;
    std::copy_n(bytes.begin(), HEADER_SIZE, header.begin());
    const int groups = groupCount(header);
    if (bytes.size() < requiredImageSize(groups)) return Status::TooShort;
    header_ = header;
    groups_ = groups;
    records_.assign(bytes.begin() + HEADER_SIZE, bytes.begin() + requiredImageSize(groups));
    return Status::Ok;
}

FirmwareImage::Status FirmwareImage::load(const std::string& path) {
    clear();
    // Only a regular file: a FIFO or a device could block the reader or never end.
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return Status::CannotOpen;
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) return Status::CannotOpen;

    // Never more than the largest image the header can describe; the rest of a file is ignored.
    std::vector<uint8_t> bytes(requiredImageSize(static_cast<int>(GROUP_TABLE_SIZE)));
    size_t got = 0;
    while (got < bytes.size()) {
        const size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, file.get());
        if (n == 0) break;
        got += n;
    }
    if (std::ferror(file.get())) return Status::CannotOpen;
    bytes.resize(got);
    return assign(bytes);
}

std::span<const uint8_t, 3> FirmwareImage::recordAddress(int i) const {
    return std::span<const uint8_t, 3>(records_.data() + static_cast<size_t>(i) * RECORD_SIZE + 1, 3);
}

std::span<const uint8_t, 128> FirmwareImage::recordData(int i) const {
    return std::span<const uint8_t, 128>(records_.data() + static_cast<size_t>(i) * RECORD_SIZE + 4, 128);
}

} // namespace norvex::download
