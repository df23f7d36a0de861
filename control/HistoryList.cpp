// SPDX-License-Identifier: GPL-3.0-or-later
#include "HistoryList.h"

#include <utility>

namespace norvex::control {

void HistoryList::add(std::uint8_t code, std::string_view text) {
    if (full) {
        for (int i = 1; i < SIZE; ++i) {
            codes[i - 1] = codes[i];
            texts[i - 1] = std::move(texts[i]);
        }
    }
    codes[position] = code;
    texts[position].assign(text);
    if (position < SIZE - 1)
        ++position;
    else
        full = true;
}

void HistoryList::clear() {
    codes.fill(0);
    for (auto& t : texts)
        t.clear();
    position = 0;
    full = false;
}

} // namespace norvex::control
