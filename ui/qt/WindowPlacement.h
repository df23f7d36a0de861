// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a window of its own (the bus monitor, the service history) opens: whole within the
// available area of its owner's screen, centred on the owner where that leaves it whole. The
// position is asked for before the window is first shown: a window manager keeps a position the
// program asked for, while its own placement may put a tall window partly below the screen.

#include <QRect>
#include <QSize>

class QWidget;

namespace norvex::qt {

// What a window manager's frame and a desktop's panels may take beside a window's own size.
inline constexpr int FRAME_ALLOWANCE_X = 16, FRAME_ALLOWANCE_Y = 48;

// `preferred`, made smaller where the area (with a frame's allowance) has less room.
QSize sizeWithin(const QSize& preferred, const QRect& available);
// The top-left corner of a window of `size` (with its frame) centred on `owner` and moved into
// `available` where it would leave it.
QRect placedWithin(const QSize& size, const QRect& owner, const QRect& available);
// Sizes and places `window` on the screen of `owner` (the primary screen without one).
void placeNear(QWidget* window, const QSize& preferred, const QWidget* owner);

} // namespace norvex::qt
