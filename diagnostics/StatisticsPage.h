// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Statistics" page: accepted bills by type, event counts and the acceptance rate.

#include "control/PaintSurface.h"
#include "diagnostics/StatisticsData.h"

namespace norvex::diagnostics {

inline constexpr int STATISTICS_ROW_Y0 = 224; // first table row
inline constexpr int STATISTICS_ROW_STEP = 14;

// Left edge of an event number: two-digit numbers start 6 pixels left of one-digit ones.
constexpr int eventNumberX(int eventNumber) {
    return eventNumber >= 10 ? 149 : 155;
}

// billsFirstHalf: bill types 0-7, else 8-15; eventsFirstHalf: events 1-9, else 10-18.
void drawStatisticsPage(PaintSurface& surface, const StatisticsData& data, bool billsFirstHalf,
                        bool eventsFirstHalf);

} // namespace norvex::diagnostics
