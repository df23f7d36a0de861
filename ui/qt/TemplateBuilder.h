// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns a window template into widgets, with one dialog-unit conversion for all templates.

#include "Templates.h"

#include <QPixmap>
#include <QRect>
#include <QString>
#include <QWidget>

#include <map>

class QButtonGroup;

namespace norvex::qt {

// Dialog units to pixels.
int duToPxX(int du);
int duToPxY(int du);
QRect duToPx(int x, int y, int w, int h);
QSize templateSize(const Template& t);

// The widgets made from one template, by control id (controls without an id are not listed).
struct BuiltControls {
    std::map<int, QWidget*> byId;
    std::map<int, QButtonGroup*> radioGroups; // keyed by the id of the group's first button

    QWidget* find(int id) const;
    template <typename W> W* get(int id) const { return qobject_cast<W*>(find(id)); }
};

// Creates every control of `t` as a child of `parent`, placed by its rectangle. Pictures load
// their image from the resources; combo boxes, tab bars and lists get their entries.
BuiltControls buildTemplate(const Template& t, QWidget* parent);

// Window flags of every dialog and message box: a caption and a close box, nothing to minimise
// or maximise (a window manager shortens a small dialog's caption to make room for those).
Qt::WindowFlags dialogWindowFlags();
// The fixed-size main window: minimise and close, no maximise.
Qt::WindowFlags mainWindowFlags();

// Makes sure the images and help pages of the resources are registered.
void initResources();

// The credit digit image 0..9 (anything else shows 0) and the bill list's box images.
QPixmap digitImage(int digit);
QPixmap boxImage(bool ticked);

} // namespace norvex::qt
