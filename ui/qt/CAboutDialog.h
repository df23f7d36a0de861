#pragma once
// The about box: the icon, the product name and version, OK.

#include <QDialog>

namespace norvex::qt {

class CAboutDialog final : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDialog(QWidget* owner);
};

} // namespace norvex::qt
