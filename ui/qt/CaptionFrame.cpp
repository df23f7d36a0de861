// SPDX-License-Identifier: GPL-3.0-or-later
#include "CaptionFrame.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>

namespace norvex::qt {

CaptionFrame::CaptionFrame(const QString& title, QWidget* parent) : QWidget(parent), title_(title) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void CaptionFrame::setTitle(const QString& title) {
    if (title == title_) return;
    title_ = title;
    update();
}

void CaptionFrame::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QFontMetrics fm(font());
    const int top = fm.height() / 2;
    const QRect r = rect().adjusted(0, top, -1, -1);
    // An etched line: dark, with a light line inside and below it.
    p.setPen(palette().color(QPalette::Light));
    p.drawRect(r.adjusted(1, 1, 0, 0));
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(r.adjusted(0, 0, -1, -1));
    if (title_.isEmpty()) return;
    const int textWidth = fm.horizontalAdvance(title_);
    const QRect caption(8, 0, std::min(textWidth + 4, width() - 16), fm.height());
    p.fillRect(caption, palette().color(QPalette::Window));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.drawText(caption.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, title_);
}

} // namespace norvex::qt
