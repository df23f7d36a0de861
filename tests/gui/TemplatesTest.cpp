// SPDX-License-Identifier: GPL-3.0-or-later
// The window templates and the main menu: within one window or bar no control number repeats,
// and no menu command does, since every look-up goes by number within the window or bar meant.

#include "ui/qt/Templates.h"

#include <gtest/gtest.h>

#include <set>

using namespace norvex;
using namespace norvex::qt;

namespace {

constexpr int TEMPLATE_NUMBERS[] = {templates::ABOUT,      templates::MAIN,        templates::ESCROW,
                                    templates::OPTICS_BAR, templates::TRAFFIC_BAR, templates::SENSORS_BAR,
                                    templates::STATS_BAR,  templates::LOG_FILE,    templates::COUPON_BAR,
                                    templates::DOWNLOAD,   templates::OPTIONS,     templates::RECONNECT_BAR};

} // namespace

TEST(Templates, NoControlNumberRepeatsWithinAWindowOrBar) {
    for (int number : TEMPLATE_NUMBERS) {
        const Template* t = findTemplate(number);
        ASSERT_NE(t, nullptr) << "template " << number;
        std::set<int> seen;
        for (const Control& c : t->controls) {
            if (c.id == NO_ID) continue;
            EXPECT_TRUE(seen.insert(c.id).second) << "template " << number << " repeats id " << c.id;
        }
    }
}

TEST(Templates, EveryPageHasABarAndNoOtherPageDoes) {
    for (int page = 0; page < 6; ++page)
        EXPECT_NE(barTemplate(*pageAtTab(page)), nullptr) << "page " << page;
    EXPECT_EQ(barTemplate(static_cast<Page>(-1)), nullptr);
    EXPECT_EQ(barTemplate(static_cast<Page>(6)), nullptr);
}

TEST(Templates, NoMenuCommandRepeats) {
    std::set<int> seen;
    int items = 0;
    for (const MenuEntry& e : mainMenu()) {
        if (e.kind != MenuKind::Item && e.kind != MenuKind::DisabledItem) continue;
        ++items;
        EXPECT_TRUE(seen.insert(e.command).second) << "command " << e.command << " (" << e.text << ")";
    }
    EXPECT_EQ(items, 27); // the described 26 and "Serial Ports..."
}
