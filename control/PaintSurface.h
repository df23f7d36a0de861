// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What a page drawing needs from the screen: filled rectangles, opaque text at a point, lines.
// Coordinates are pixels of the main window's client area below the menu bar; a text's
// position is its top-left corner.

#include <cstdint>
#include <string_view>

namespace norvex {

struct Rgb {
    std::uint8_t r = 0, g = 0, b = 0;
    friend constexpr bool operator==(Rgb, Rgb) = default;
};

// Right and bottom are exclusive, as in the window system's rectangles.
struct Rect {
    int left = 0, top = 0, right = 0, bottom = 0;
    friend constexpr bool operator==(const Rect&, const Rect&) = default;
};

namespace colours {
inline constexpr Rgb BLACK{0, 0, 0};
inline constexpr Rgb GREY{204, 204, 204};
inline constexpr Rgb MID_GREY{153, 153, 153};
inline constexpr Rgb GREEN{0, 255, 0};
inline constexpr Rgb RED{255, 0, 0};
inline constexpr Rgb BLUE{0, 119, 255};
inline constexpr Rgb YELLOW{255, 255, 0};
inline constexpr Rgb TEAL{0, 159, 159};
inline constexpr Rgb CYAN{0, 255, 255};
inline constexpr Rgb STRIPE_GREEN{0, 204, 0};
} // namespace colours

namespace areas {
inline constexpr Rect PAGE{18, 194, 542, 366};
inline constexpr Rect DATA{30, 198, 530, 362};
inline constexpr Rect EVENT_HISTORY{276, 194, 542, 366};
inline constexpr Rect COMMAND_HISTORY{18, 194, 276, 366};
} // namespace areas

class PaintSurface {
public:
    virtual ~PaintSurface() = default;
    virtual void fillRect(const Rect& r, Rgb colour) = 0;
    // Text drawn opaque: its cell is filled with `background` first.
    virtual void drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) = 0;
    // A solid line of the given pen width from the first point to the second.
    virtual void drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) = 0;
};

} // namespace norvex
