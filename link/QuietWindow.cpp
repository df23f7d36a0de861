// SPDX-License-Identifier: GPL-3.0-or-later
#include "QuietWindow.h"

#include <algorithm>

namespace norvex::link {

QuietWindow::Micros QuietWindow::windowFor(Micros widestGap) {
    const Micros margin = std::max(Micros(500), widestGap / 4);
    return std::clamp(widestGap + margin, NARROWEST, WIDEST);
}

void QuietWindow::gapSeen(Micros gap) {
    if (gap.count() < 0) return;
    if (seen_ < UINT32_MAX) ++seen_;
    widest_ = std::max(widest_, gap);
    window_ = seen_ >= EVIDENCE ? windowFor(widest_) : WIDEST;
}

} // namespace norvex::link
