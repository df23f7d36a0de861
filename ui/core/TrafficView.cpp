// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/TrafficView.h"

#include <cstdio>

namespace norvex::ui {

namespace {

void drawByte(PaintSurface& surface, int x, int y, std::uint16_t entry, Rgb colour, Rgb background) {
    if (entry > 0xFF) return; // an empty entry leaves its half of the cell as it is
    char cell[3];
    std::snprintf(cell, sizeof cell, "%02x", static_cast<unsigned>(entry));
    surface.drawText(x, y, cell, colour, background);
}

} // namespace

void TrafficView::resetTrafficView() {
    cursorX_ = LEFT;
    cursorY_ = TOP;
    startLine_ = true;
    upperStripe_ = UPPER_START;
    lowerStripe_ = LOWER_START;
    trafficStopped_ = false;
}

void TrafficView::drawTrafficStripes(PaintSurface& surface) {
    Rect upper = UPPER_START;
    Rect lower = LOWER_START;
    for (int line = 0; line < LINE_COUNT; ++line) {
        surface.fillRect(upper, SENT_BACKGROUND);
        surface.fillRect(lower, RECEIVED_BACKGROUND);
        upper.top += LINE_HEIGHT;
        upper.bottom += LINE_HEIGHT;
        lower.top += LINE_HEIGHT;
        lower.bottom += LINE_HEIGHT;
    }
}

void TrafficView::drawTraffic(PaintSurface& surface, const link::TrafficBuffer& traffic) {
    for (std::size_t i = 0; i + 1 < link::TRAFFIC_SIZE; ++i) {
        const std::uint16_t s = traffic.sent[i];
        const std::uint16_t r = traffic.received[i + 1];
        if (s == link::TRAFFIC_EMPTY && r == link::TRAFFIC_EMPTY) break;

        if (startLine_) {
            upperStripe_ = {LEFT, cursorY_, RIGHT, cursorY_ + ROW_HEIGHT};
            lowerStripe_ = {LEFT, cursorY_ + ROW_HEIGHT, RIGHT, cursorY_ + LINE_HEIGHT};
            surface.fillRect(upperStripe_, SENT_BACKGROUND);
            surface.fillRect(lowerStripe_, RECEIVED_BACKGROUND);
        }

        drawByte(surface, cursorX_, cursorY_, s, SENT_TEXT, SENT_BACKGROUND);
        drawByte(surface, cursorX_, cursorY_ + ROW_HEIGHT, r, RECEIVED_TEXT, RECEIVED_BACKGROUND);

        cursorX_ += CELL_WIDTH;
        if (cursorX_ < RIGHT) {
            startLine_ = false;
        } else {
            startLine_ = true;
            cursorX_ = LEFT;
            cursorY_ += LINE_HEIGHT;
            if (cursorY_ >= WRAP_Y) cursorY_ = TOP;
        }
    }
}

void TrafficView::prepareTrafficPage(PaintSurface& image) {
    if (!trafficViewReset_) return;
    image.fillRect(areas::PAGE, PAGE_BACKGROUND);
    drawTrafficStripes(image);
    trafficViewReset_ = false;
}

void TrafficView::paintTrafficPage(PaintSurface& surface, const link::TrafficBuffer& traffic) {
    prepareTrafficPage(surface);
    if (!trafficStopped_) drawTraffic(surface, traffic);
}

void TrafficView::appendExchange(PaintSurface& image, const link::TrafficBuffer& traffic) {
    if (!trafficStopped_) drawTraffic(image, traffic);
}

} // namespace norvex::ui
