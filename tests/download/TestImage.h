// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Firmware images made up for the tests, and a scratch directory to put them in.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace norvex::download::testing {

struct ImageRecipe {
    int groups = 2;                       // bytes before the 0xFF in the group table
    bool terminateTable = true;           // false: no 0xFF at all (55 groups then)
    uint8_t afterTerminator = 0x00;       // what the table holds after its 0xFF
    std::optional<uint16_t> checkValue{}; // default: the value the test loader will compute
    size_t trailingBytes = 0;             // extra bytes after the last record
};

std::vector<uint8_t> makeImage(const ImageRecipe& recipe);
// The 3 address bytes the made-up image gives record i.
uint32_t testRecordAddress(int i);

class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) const;

private:
    std::string path_;
};

} // namespace norvex::download::testing
