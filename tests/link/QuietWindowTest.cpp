// SPDX-License-Identifier: GPL-3.0-or-later
// The quiet window narrows to the gaps a port shows, and widens at once.

#include "link/QuietWindow.h"

#include <gtest/gtest.h>

using namespace norvex::link;
using namespace std::chrono_literals;

TEST(QuietWindow, NarrowsOnlyOnEvidenceNeverBelowItsFloorAndWidensAtOnce) {
    QuietWindow w;
    EXPECT_EQ(w.window(), QuietWindow::WIDEST);
    for (std::uint32_t i = 1; i < QuietWindow::EVIDENCE; ++i)
        w.gapSeen(1150us);
    EXPECT_EQ(w.window(), QuietWindow::WIDEST); // not enough seen yet
    w.gapSeen(1150us);
    EXPECT_EQ(w.window(), 1650us); // the widest gap and half a millisecond
    w.gapSeen(1900us);
    EXPECT_EQ(w.window(), 2400us); // ... or a quarter more, whichever is more
    w.gapSeen(3500us);
    EXPECT_EQ(w.window(), QuietWindow::WIDEST);
    w.gapSeen(100us);
    EXPECT_EQ(w.window(), QuietWindow::WIDEST); // a wide gap is never forgotten
    EXPECT_EQ(QuietWindow::windowFor(200us), QuietWindow::NARROWEST);
}
