// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestImage.h"

#include "LoaderModel.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>

namespace norvex::download::testing {

uint32_t testRecordAddress(int i) {
    return 0x010000u + static_cast<uint32_t>(i) * 0x80u;
}

std::vector<uint8_t> makeImage(const ImageRecipe& recipe) {
    const int groups = recipe.terminateTable ? recipe.groups : 55;
    const int records = groups * 32;
    std::vector<uint8_t> bytes(128 + 133 * static_cast<size_t>(records) + recipe.trailingBytes, 0xEE);

    for (int i = 0; i < 34; ++i)
        bytes[i] = static_cast<uint8_t>(0x30 + i);
    for (int i = 0; i < 55; ++i) {
        uint8_t value;
        if (i < groups)
            value = static_cast<uint8_t>(i); // never 0xFF
        else if (i == groups)
            value = 0xFF;
        else
            value = recipe.afterTerminator;
        bytes[34 + i] = value;
    }
    for (int i = 89; i < 126; ++i)
        bytes[i] = static_cast<uint8_t>(0xA0 + i);

    std::map<uint32_t, std::vector<uint8_t>> memory;
    for (int r = 0; r < records; ++r) {
        uint8_t* rec = bytes.data() + 128 + 133 * static_cast<size_t>(r);
        const uint32_t address = testRecordAddress(r);
        rec[0] = 0xAA;
        rec[1] = static_cast<uint8_t>(address >> 16);
        rec[2] = static_cast<uint8_t>(address >> 8);
        rec[3] = static_cast<uint8_t>(address);
        std::vector<uint8_t> data(128);
        for (int j = 0; j < 128; ++j)
            data[j] = rec[4 + j] = static_cast<uint8_t>(r * 7 + j * 3);
        rec[132] = 0x55;
        memory[address] = data;
    }
    const uint16_t check = recipe.checkValue.value_or(loaderCheckValue(memory));
    bytes[126] = static_cast<uint8_t>(check >> 8);
    bytes[127] = static_cast<uint8_t>(check & 0xFF);
    return bytes;
}

ScratchDir::ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "norvex-dl-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    const std::string file = (std::filesystem::path(path_) / name).string();
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
}

} // namespace norvex::download::testing
