// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/StatisticsPage.h"

#include "diagnostics/PagePens.h"
#include "diagnostics/TextFormat.h"

namespace norvex::diagnostics {

void drawStatisticsPage(PaintSurface& surface, const StatisticsData& data, bool billsFirstHalf,
                        bool eventsFirstHalf) {
    pageText(surface, 35, 200, "Accepted bills", colours::GREEN);
    for (int r = 0; r < 8; ++r) {
        const int type = billsFirstHalf ? r : r + 8;
        const int y = STATISTICS_ROW_Y0 + STATISTICS_ROW_STEP * r;
        pageText(surface, 40, y, decimal(type, 2), colours::GREY);
        pageText(surface, 75, y, decimal(data.billsAccepted[type]), colours::CYAN);
    }

    pageText(surface, 140, 200, "Event  Count    Event description", colours::GREEN);
    for (int r = 0; r < 9; ++r) {
        const int index = eventsFirstHalf ? r : r + 9;
        const int y = STATISTICS_ROW_Y0 + STATISTICS_ROW_STEP * r;
        pageText(surface, eventNumberX(index + 1), y, decimal(index + 1), colours::GREY);
        pageText(surface, 185, y, decimal(data.eventCount[index]), colours::CYAN);
        pageText(surface, 235, y, EVENT_DESCRIPTION[index], colours::MID_GREY);
    }

    pageText(surface, 450, 200, "Acceptance", colours::GREEN);
    pageText(surface, 33, 342, "Total:", colours::GREEN);
    pageText(surface, 75, 342, decimal(totalAccepted(data)), colours::CYAN);
    pageText(surface, 470, 342, acceptanceRateText(data), colours::CYAN);

    for (int x : {30, 128, 440, 528})
        gridLine(surface, x, 198, x, 361);
    for (int y : {198, 218, 361})
        gridLine(surface, 30, y, 528, y);
    gridLine(surface, 30, 340, 128, 340);
    gridLine(surface, 445, 340, 528, 340);
}

} // namespace norvex::diagnostics
