#include "diagnostics/StatisticsPage.h"

#include "diagnostics/PagePens.h"
#include "diagnostics/TextFormat.h"

namespace norvex::diagnostics {

void drawStatisticsPage(PaintSurface& surface, const StatisticsData& data, bool billsFirstHalf,
                        bool eventsFirstHalf) {
    pageText(surface, 35, 200, "Accepted bills", colours::green);
    for (int r = 0; r < 8; ++r) {
        const int type = billsFirstHalf ? r : r + 8;
        const int y = statisticsRowY0 + statisticsRowStep * r;
        pageText(surface, 40, y, decimal(type, 2), colours::grey);
        pageText(surface, 75, y, decimal(data.billsAccepted[type]), colours::cyan);
    }

    pageText(surface, 140, 200, "Event  Count    Event description", colours::green);
    for (int r = 0; r < 9; ++r) {
        const int index = eventsFirstHalf ? r : r + 9;
        const int y = statisticsRowY0 + statisticsRowStep * r;
        pageText(surface, eventNumberX(index + 1), y, decimal(index + 1), colours::grey);
        pageText(surface, 185, y, decimal(data.eventCount[index]), colours::cyan);
        pageText(surface, 235, y, eventDescription[index], colours::midGrey);
    }

    pageText(surface, 450, 200, "Acceptance", colours::green);
    pageText(surface, 33, 342, "Total:", colours::green);
    pageText(surface, 75, 342, decimal(totalAccepted(data)), colours::cyan);
    pageText(surface, 470, 342, acceptanceRateText(data), colours::cyan);

    for (int x : {30, 128, 440, 528})
        gridLine(surface, x, 198, x, 361);
    for (int y : {198, 218, 361})
        gridLine(surface, 30, y, 528, y);
    gridLine(surface, 30, 340, 128, 340);
    gridLine(surface, 445, 340, 528, 340);
}

} // namespace norvex::diagnostics
