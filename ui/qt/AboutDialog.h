// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The about box: the icon, the product name and version, OK.

#include <QDialog>

namespace norvex::qt {

class AboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* owner);
};

} // namespace norvex::qt
