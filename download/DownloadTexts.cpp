// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/DownloadTexts.h"

namespace norvex::download {

namespace {

bool isContinuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Moves a cut position back to the start of a UTF-8 sequence.
size_t headCut(const std::string& s, size_t pos) {
    while (pos > 0 && pos < s.size() && isContinuation(s[pos]))
        --pos;
    return pos;
}

// Moves a cut position forward to the start of a UTF-8 sequence.
size_t tailCut(const std::string& s, size_t pos) {
    while (pos < s.size() && isContinuation(s[pos]))
        ++pos;
    return pos;
}

} // namespace

std::string progressCaption(const std::string& fileName) {
    const std::string prefix = "file name: ";
    const size_t room = CAPTION_CAPACITY - 1 - prefix.size();
    if (fileName.size() <= room) return prefix + fileName;

    const std::string ellipsis = "...";
    constexpr size_t TAIL_BYTES = 16;
    const size_t headRoom = room - ellipsis.size() - TAIL_BYTES;
    const size_t head = headCut(fileName, headRoom);
    const size_t tail = tailCut(fileName, fileName.size() - TAIL_BYTES);
    return prefix + fileName.substr(0, head) + ellipsis + fileName.substr(tail);
}

} // namespace norvex::download
