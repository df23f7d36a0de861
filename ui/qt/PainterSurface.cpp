// SPDX-License-Identifier: GPL-3.0-or-later
#include "PainterSurface.h"

#include <QFontMetrics>
#include <QPen>
#include <QString>

namespace norvex::qt {
namespace {

QColor toQColor(Rgb c) {
    return QColor(c.r, c.g, c.b);
}

} // namespace

QFont pageFont() {
    QFont f(QStringLiteral("DejaVu Sans Mono"));
    f.setStyleHint(QFont::TypeWriter);
    f.setPixelSize(11);
    // Crisp text in exactly the colour asked for, as the page layouts were drawn.
    f.setStyleStrategy(QFont::NoAntialias);
    return f;
}

PainterSurface::PainterSurface(QPainter& painter, QPoint origin) : p_(painter), origin_(origin) {
    p_.setRenderHint(QPainter::Antialiasing, false);
    p_.setRenderHint(QPainter::TextAntialiasing, false);
    p_.setFont(pageFont());
}

void PainterSurface::fillRect(const Rect& r, Rgb colour) {
    if (r.right <= r.left || r.bottom <= r.top) return;
    p_.fillRect(QRect(r.left - origin_.x(), r.top - origin_.y(), r.right - r.left, r.bottom - r.top),
                toQColor(colour));
}

void PainterSurface::drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) {
    const QString s = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    const QFontMetrics fm(p_.font());
    const QPoint at(x - origin_.x(), y - origin_.y());
    p_.fillRect(QRect(at, QSize(fm.horizontalAdvance(s), fm.height())), toQColor(background));
    p_.setPen(toQColor(colour));
    p_.drawText(at.x(), at.y() + fm.ascent(), s);
}

void PainterSurface::drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) {
    // A one-pixel line leaves out its end point; wider lines have round ends.
    QPen pen(toQColor(colour), width < 1 ? 1 : width, Qt::SolidLine, width <= 1 ? Qt::FlatCap : Qt::RoundCap);
    pen.setCosmetic(true);
    p_.setPen(pen);
    p_.drawLine(x1 - origin_.x(), y1 - origin_.y(), x2 - origin_.x(), y2 - origin_.y());
}

void ImageSurface::fillRect(const Rect& r, Rgb colour) {
    QPainter p(&image_);
    PainterSurface(p, origin_).fillRect(r, colour);
}

void ImageSurface::drawText(int x, int y, std::string_view text, Rgb colour, Rgb background) {
    QPainter p(&image_);
    PainterSurface(p, origin_).drawText(x, y, text, colour, background);
}

void ImageSurface::drawLine(int x1, int y1, int x2, int y2, Rgb colour, int width) {
    QPainter p(&image_);
    PainterSurface(p, origin_).drawLine(x1, y1, x2, y2, colour, width);
}

} // namespace norvex::qt
