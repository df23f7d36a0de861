// SPDX-License-Identifier: GPL-3.0-or-later
#include "WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace norvex::qt {

QSize sizeWithin(const QSize& preferred, const QRect& available) {
    return {std::min(preferred.width(), available.width() - FRAME_ALLOWANCE_X),
            std::min(preferred.height(), available.height() - FRAME_ALLOWANCE_Y)};
}

QRect placedWithin(const QSize& size, const QRect& owner, const QRect& available) {
    const QPoint centre = owner.isValid() ? owner.center() : available.center();
    // The frame's allowance goes right and below: the title bar is counted in the height.
    const int right =
        std::max(available.left(), available.left() + available.width() - size.width() - FRAME_ALLOWANCE_X);
    const int bottom =
        std::max(available.top(), available.top() + available.height() - size.height() - FRAME_ALLOWANCE_Y);
    const int x = std::clamp(centre.x() - size.width() / 2, available.left(), right);
    const int y = std::clamp(centre.y() - size.height() / 2, available.top(), bottom);
    return {QPoint(x, y), size};
}

void placeNear(QWidget* window, const QSize& preferred, const QWidget* owner) {
    const QScreen* screen = owner ? owner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QRect placed = placedWithin(sizeWithin(preferred, available),
                                      owner ? owner->window()->frameGeometry() : QRect(), available);
    window->resize(placed.size());
    window->move(placed.topLeft());
}

} // namespace norvex::qt
