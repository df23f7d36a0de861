// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The page drawings' paint surface on a QPainter, and one on an off-screen image.

#include "control/PaintSurface.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPoint>

namespace norvex::qt {

// The fixed font of the page drawings: about 13 pixels from line to line, so that rows 14
// pixels apart and two hexadecimal digits in a 20-pixel cell stay readable.
QFont pageFont();

// Draws on an active painter. `origin` is the client-area point that the painter's (0,0)
// stands for (an image of the page area has origin (18,194)).
class PainterSurface final : public PaintSurface {
public:
    explicit PainterSurface(QPainter& painter, QPoint origin = {});

    void fillRect(const Rect& r, Rgb colour) override;
    void drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) override;
    void drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) override;

private:
    QPainter& p_;
    QPoint origin_;
};

// Draws into an image that holds part of the client area, starting at `origin`. Each call
// paints and finishes at once, so the image can be shown at any time.
class ImageSurface final : public PaintSurface {
public:
    ImageSurface(QImage& image, QPoint origin) : image_(image), origin_(origin) {}

    void fillRect(const Rect& r, Rgb colour) override;
    void drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) override;
    void drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) override;

    QPoint origin() const { return origin_; }

private:
    QImage& image_;
    QPoint origin_;
};

} // namespace norvex::qt
