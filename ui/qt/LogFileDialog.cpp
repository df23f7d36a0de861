// SPDX-License-Identifier: GPL-3.0-or-later
#include "LogFileDialog.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>

namespace norvex::qt {

LogFileDialog::LogFileDialog(QWidget* owner, Handlers handlers)
    : ModelessDialog(*findTemplate(templates::LOG_FILE), owner), h_(std::move(handlers)) {
    const BuiltControls& c = controls();
    auto* serial = c.get<QLineEdit>(ids::LOG_SERIAL);
    serial->setMaxLength(SERIAL_MAX_LENGTH);
    // The serial number becomes part of the proposed file name and of the ASCII report:
    // printable ASCII without path separators.
    serial->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral(R"([ -.0-\[\]-~]{0,10})")), serial));
    connect(c.get<QCheckBox>(ids::LOG_VIDEO), &QCheckBox::clicked, this, [this] {
        if (h_.videoClicked) h_.videoClicked();
    });
    connect(c.get<QPushButton>(ids::OK), &QPushButton::clicked, this, [this] { accept(); });
    connect(c.get<QPushButton>(ids::CANCEL), &QPushButton::clicked, this, [this] { onCancel(); });
}

LogFileDialog::Choice LogFileDialog::choice() const {
    const BuiltControls& c = controls();
    return {c.get<QCheckBox>(ids::LOG_STATISTICS)->isChecked(),
            c.get<QCheckBox>(ids::LOG_SENSORS)->isChecked(), c.get<QCheckBox>(ids::LOG_OPTICS)->isChecked(),
            c.get<QCheckBox>(ids::LOG_VIDEO)->isChecked(),
            c.get<QLineEdit>(ids::LOG_SERIAL)->text().toStdString()};
}

void LogFileDialog::accept() {
    const Choice ch = choice();
    finishWith([this, ch] {
        if (h_.ok) h_.ok(ch);
    });
}

void LogFileDialog::onCancel() {
    finishWith([this] {
        if (h_.cancel) h_.cancel();
    });
}

} // namespace norvex::qt
