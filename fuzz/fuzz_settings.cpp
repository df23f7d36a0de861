// SPDX-License-Identifier: GPL-3.0-or-later
// The settings file reader and writer on any file content: "norvex.ini" is written from the
// input, read back, then the port is saved and the file checked byte for byte.
//
// Input: one byte choosing the port to save (any int from -2 to 5), then the file's content.

#include "FuzzTempDir.h"
#include "ui/core/Settings.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace norvex::ui;

namespace {

[[noreturn]] void broken(const char* what, long value) {
    std::fprintf(stderr, "settings invariant broken: %s (%ld)\n", what, value);
    std::abort();
}

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

std::string line(int port) {
    char text[24];
    std::snprintf(text, sizeof text, "Com_Port_Num:%d\r\n", port);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static norvex::fuzz::TempDir dir;
    if (size == 0) return 0;
    const int savedPort = static_cast<int>(data[0] % 8) - 2;
    const std::string content(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::string path = settingsFilePath(dir.path);
    writeAll(path, data + 1, size - 1);

    std::string warning;
    const int port = loadSettings(dir.path, &warning);
    if (port < 0 || port >= PORT_COUNT) broken("port number read", port);

    // What the reader must make of the content.
    const bool good = content.size() >= 14 && content[13] >= '0' && content[13] <= '3';
    const std::string expectedFile = content.empty() ? line(0) : content;
    const int expectedPort = good ? content[13] - '0' : 0;
    if (port != expectedPort) broken("port number differs from the digit at offset 13", port);
    const bool bad = !content.empty() && !good;
    if (warning.empty() == bad)
        broken("warning given for a good file or missing for a bad one", static_cast<long>(warning.size()));
    if (readAll(path) != expectedFile)
        broken("the reader changed the file", static_cast<long>(content.size()));

    std::string error;
    const bool saved = saveSettings(dir.path, savedPort, error);
    const std::string after = readAll(path);
    if (savedPort < 0 || savedPort >= PORT_COUNT) {
        if (saved || error.empty()) broken("out-of-range port saved", savedPort);
        if (after != expectedFile) broken("a refused save changed the file", savedPort);
    } else {
        if (!saved) broken("save failed", savedPort);
        const std::string head = line(savedPort);
        if (after.size() != std::max(expectedFile.size(), head.size()))
            broken("file size after save", after.size());
        if (after.compare(0, head.size(), head) != 0) broken("settings line after save", savedPort);
        if (expectedFile.size() > head.size() &&
            after.compare(head.size(), std::string::npos, expectedFile, head.size()) != 0)
            broken("bytes after the line changed", savedPort);
        if (loadSettings(dir.path) != savedPort) broken("saved port not read back", savedPort);
    }
    return 0;
}
