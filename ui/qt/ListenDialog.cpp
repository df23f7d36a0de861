// SPDX-License-Identifier: GPL-3.0-or-later
#include "ListenDialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace norvex::qt {

namespace {

QComboBox* deviceBox(QWidget* parent, const std::vector<link::SerialDevice>& devices, int chosen) {
    auto* box = new QComboBox(parent);
    box->setEditable(true);
    box->setMinimumWidth(360);
    for (const link::SerialDevice& d : devices) {
        box->addItem(QString::fromStdString(d.path));
        box->setItemData(box->count() - 1, QString::fromStdString(link::PortDiscovery::summary(d)),
                         Qt::ToolTipRole);
    }
    // One device present: the other line starts empty rather than naming the same device twice.
    if (chosen < box->count())
        box->setCurrentIndex(chosen);
    else
        box->setCurrentIndex(-1);
    return box;
}

} // namespace

ListenDialog::ListenDialog(QWidget* owner, const std::string& root) : QDialog(owner) {
    setObjectName(QStringLiteral("listenDialog"));
    setWindowTitle(QStringLiteral("Listen to a Machine"));
    const std::vector<link::SerialDevice> devices = link::PortDiscovery(root).scan();

    auto* layout = new QVBoxLayout(this);
    auto* text =
        new QLabel(QStringLiteral("Two serial inputs with only RX wired: one on the controller's transmit "
                                  "line, one on the peripherals'. Norvex only listens: nothing is written "
                                  "into either, and no modem line is set."),
                   this);
    text->setWordWrap(true);
    layout->addWidget(text);
    auto* form = new QFormLayout;
    controller_ = deviceBox(this, devices, 0);
    controller_->setObjectName(QStringLiteral("controllerLine"));
    peripherals_ = deviceBox(this, devices, 1);
    peripherals_->setObjectName(QStringLiteral("peripheralLine"));
    form->addRow(QStringLiteral("Controller's line (VMC transmit):"), controller_);
    form->addRow(QStringLiteral("Peripherals' line:"), peripherals_);
    layout->addLayout(form);
    if (devices.empty())
        layout->addWidget(new QLabel(QStringLiteral("No serial device is present: type the paths."), this));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("Listen"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

std::string ListenDialog::controllerPath() const {
    return controller_->currentText().trimmed().toStdString();
}

std::string ListenDialog::peripheralPath() const {
    return peripherals_->currentText().trimmed().toStdString();
}

void ListenDialog::setPaths(const std::string& controller, const std::string& peripherals) {
    controller_->setEditText(QString::fromStdString(controller));
    peripherals_->setEditText(QString::fromStdString(peripherals));
}

} // namespace norvex::qt
