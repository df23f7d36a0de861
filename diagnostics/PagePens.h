// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The two strokes every diagnostics page is made of: opaque text on the black page and the grid.

#include "control/PaintSurface.h"

#include <string_view>

namespace norvex::diagnostics {

inline void pageText(PaintSurface& s, int x, int y, std::string_view text, Rgb colour) {
    s.drawText(x, y, text, colour, colours::BLACK);
}

// Solid, 1 pixel, teal.
inline void gridLine(PaintSurface& s, int x1, int y1, int x2, int y2) {
    s.drawLine(x1, y1, x2, y2, colours::TEAL, 1);
}

} // namespace norvex::diagnostics
