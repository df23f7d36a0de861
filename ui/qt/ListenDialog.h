// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Bus > "Listen to a Machine…": the two serial inputs of a tap on a running vending machine's
// bus, the one on the controller's transmit line and the one on the peripherals', chosen from the
// serial devices present (or any path typed).

#include "link/PortDiscovery.h"

#include <QDialog>

#include <string>

class QComboBox;
class QLabel;

namespace norvex::qt {

class ListenDialog final : public QDialog {
    Q_OBJECT
public:
    // `root` is where devices are looked for ("/").
    ListenDialog(QWidget* owner, const std::string& root);

    std::string controllerPath() const;
    std::string peripheralPath() const;
    void setPaths(const std::string& controller, const std::string& peripherals);
    QComboBox* controllerBox() const { return controller_; }
    QComboBox* peripheralBox() const { return peripherals_; }

private:
    QComboBox* controller_ = nullptr;
    QComboBox* peripherals_ = nullptr;
};

} // namespace norvex::qt
