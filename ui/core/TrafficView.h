// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "View Data Xfer" page: every exchange on the bus as hexadecimal bytes, the controller's
// bytes in a black row above the validator's bytes in a green row, on a ring of five lines of
// 25 cells. Column i of an exchange shows the byte sent at position i above the byte received
// at position i + 1, so the first answer byte sits under the last request byte and the
// acknowledge one column after the last answer byte.

#include "control/PaintSurface.h"
#include "link/LinkTypes.h"

namespace norvex::ui {

class TrafficView {
public:
    // Geometry of the ring, in client pixels.
    static constexpr int LEFT = 30;        // x of the first cell of a line
    static constexpr int RIGHT = 530;      // stripes end here (exclusive); no cell starts here
    static constexpr int TOP = 198;        // y of the first line
    static constexpr int CELL_WIDTH = 20;  // 25 cells per line
    static constexpr int ROW_HEIGHT = 16;  // controller row, then validator row
    static constexpr int LINE_HEIGHT = 32; // both rows
    static constexpr int LINE_COUNT = 5;   // lines at 198, 230, 262, 294, 326
    static constexpr int WRAP_Y = 346;     // a line starting at or below this goes back to TOP

    static constexpr Rgb SENT_TEXT = colours::GREEN;
    static constexpr Rgb SENT_BACKGROUND = colours::BLACK;
    static constexpr Rgb RECEIVED_TEXT = colours::BLACK;
    static constexpr Rgb RECEIVED_BACKGROUND = colours::STRIPE_GREEN;
    static constexpr Rgb PAGE_BACKGROUND = colours::BLACK;

    TrafficView() = default;

    // Cursor, line start, stripes and the stop flag back to their reset values. The repaint
    // flag is left alone: selecting the page resets the view and then asks for a repaint.
    void resetTrafficView();

    // Paints the five empty lines (black and green stripes), without bytes.
    void drawTrafficStripes(PaintSurface& surface);

    // One pass over the exchange in `traffic`, continuing where the previous pass stopped.
    void drawTraffic(PaintSurface& surface, const link::TrafficBuffer& traffic);

    // Paint of the page: background and stripes first when a repaint was asked for, then the
    // current exchange unless the display is stopped. Every call appends the exchange again.
    void paintTrafficPage(PaintSurface& surface, const link::TrafficBuffer& traffic);

    // For a binding that keeps the page in an off-screen image: repaints the image's background
    // and stripes when a repaint was asked for (call it when the page is selected, before the
    // first append) ...
    void prepareTrafficPage(PaintSurface& image);
    // ... and draws each completed exchange into the image exactly once (nothing while the
    // display is stopped). The paint then only copies the image.
    void appendExchange(PaintSurface& image, const link::TrafficBuffer& traffic);

    void setTrafficStopped(bool stopped) { trafficStopped_ = stopped; }
    void setTrafficViewReset(bool reset) { trafficViewReset_ = reset; }

    int cursorX() const { return cursorX_; }
    int cursorY() const { return cursorY_; }
    bool startLine() const { return startLine_; }
    const Rect& upperStripe() const { return upperStripe_; }
    const Rect& lowerStripe() const { return lowerStripe_; }
    bool trafficViewReset() const { return trafficViewReset_; }
    bool trafficStopped() const { return trafficStopped_; }

    // Caption of the page bar's toggle button (1027) for the given stop state.
    static const char* stopButtonText(bool stopped) { return stopped ? "Resume Display" : "Stop Display"; }

private:
    static constexpr Rect UPPER_START{LEFT, TOP, RIGHT, TOP + ROW_HEIGHT};
    static constexpr Rect LOWER_START{LEFT, TOP + ROW_HEIGHT, RIGHT, TOP + LINE_HEIGHT};

    int cursorX_ = LEFT;
    int cursorY_ = TOP;
    bool startLine_ = true;
    Rect upperStripe_ = UPPER_START;
    Rect lowerStripe_ = LOWER_START;
    bool trafficViewReset_ = false;
    bool trafficStopped_ = false;
};

} // namespace norvex::ui
