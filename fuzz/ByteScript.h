// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Reads a fuzz input as a script: opcodes and their arguments, taken from the front. Once the
// input is used up every read gives zero.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace norvex::fuzz {

class ByteScript {
public:
    ByteScript(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return pos_ >= size_; }
    std::size_t remaining() const { return size_ - pos_; }

    std::uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    bool flag() { return (byte() & 1) != 0; }
    std::uint16_t u16() {
        const std::uint16_t high = byte();
        return static_cast<std::uint16_t>(high << 8 | byte());
    }
    std::uint32_t u32() {
        const std::uint32_t high = u16();
        return high << 16 | u16();
    }

    // Up to n bytes copied into out; the number copied.
    std::size_t take(std::uint8_t* out, std::size_t n) {
        const std::size_t got = std::min(n, remaining());
        if (got > 0) std::memcpy(out, data_ + pos_, got);
        pos_ += got;
        return got;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

} // namespace norvex::fuzz
