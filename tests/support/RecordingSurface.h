// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A paint surface that remembers every call, for tests of the page drawings.

#include "control/PaintSurface.h"

#include <string>
#include <vector>

namespace norvex::test {

struct TextCall {
    int x, y;
    std::string text;
    Rgb colour, background;
};
struct LineCall {
    int x1, y1, x2, y2;
    Rgb colour;
    int width;
};
struct FillCall {
    Rect r;
    Rgb colour;
};

class RecordingSurface : public PaintSurface {
public:
    std::vector<TextCall> texts;
    std::vector<LineCall> lines;
    std::vector<FillCall> fills;

    void fillRect(const Rect& r, Rgb colour) override { fills.push_back({r, colour}); }
    void drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) override {
        texts.push_back({x, y, std::string(text), colour, background});
    }
    void drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) override {
        lines.push_back({x1, y1, x2, y2, colour, width});
    }

    // The first text drawn at (x, y), or nullptr.
    const TextCall* textAt(int x, int y) const {
        for (const auto& t : texts)
            if (t.x == x && t.y == y) return &t;
        return nullptr;
    }
    bool hasText(const std::string& s) const {
        for (const auto& t : texts)
            if (t.text == s) return true;
        return false;
    }
    bool hasLine(int x1, int y1, int x2, int y2) const {
        for (const auto& l : lines)
            if (l.x1 == x1 && l.y1 == y1 && l.x2 == x2 && l.y2 == y2) return true;
        return false;
    }
    void clear() {
        texts.clear();
        lines.clear();
        fills.clear();
    }
};

} // namespace norvex::test
