// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The pages of the main window, named after what they show, in the order of its tabs. Each page
// has one bar below the page area while it is shown.

#include <optional>

namespace norvex {

enum class Page {
    CommandStatus, // "Command - Status": the event and command histories
    Statistics,    // accepted bills, event counts, acceptance rate
    Sensors,       // the bill path sensors and the temperature
    MainOptics,    // the optical channels' settings in one colour
    VideoTest,     // the white-paper video test's level graphs
    Traffic,       // "View Data Xfer": every exchange on the bus
};

inline constexpr int PAGE_COUNT = 6;

// The page of tab `index`; nothing for an index outside the tabs.
constexpr std::optional<Page> pageAtTab(int index) {
    if (index < 0 || index >= PAGE_COUNT) return std::nullopt;
    return static_cast<Page>(index);
}

// The tab that shows `page`, counted from 0 at the left.
constexpr int tabIndex(Page page) {
    return static_cast<int>(page);
}

} // namespace norvex
