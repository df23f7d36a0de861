// SPDX-License-Identifier: GPL-3.0-or-later
#include "OptionsDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace norvex::qt {

OptionsDialog::OptionsDialog(QWidget* owner, control::EscrowOption escrowChoice, ui::DataSaving savingChoice,
                             const std::string& dataFilePath, Handlers handlers)
    : ModelessDialog(*findTemplate(templates::OPTIONS), owner), h_(std::move(handlers)) {
    const BuiltControls& c = controls();
    // The escrow radios stand in the options' order, from Manual down.
    c.get<QRadioButton>(ids::ESCROW_MANUAL + control::escrowOptionIndex(escrowChoice))->setChecked(true);
    const bool saving = savingChoice == ui::DataSaving::ToFile;
    c.get<QRadioButton>(saving ? ids::SAVING : ids::NO_SAVING)->setChecked(true);
    c.get<QLabel>(ids::DATA_PATH)->setText(QString::fromStdString(dataFilePath));
    setSavingControls(saving);

    connect(c.get<QRadioButton>(ids::NO_SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(ui::DataSaving::Off);
        setSavingControls(false);
    });
    connect(c.get<QRadioButton>(ids::SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(ui::DataSaving::ToFile);
        setSavingControls(true);
    });
    connect(c.get<QPushButton>(ids::BAR_BUTTON), &QPushButton::clicked, this, [this] {
        if (!h_.browse) return;
        const std::string path = h_.browse();
        if (!finished()) controls().get<QLabel>(ids::DATA_PATH)->setText(QString::fromStdString(path));
    });
    connect(c.get<QPushButton>(ids::OK), &QPushButton::clicked, this, [this] { accept(); });
    connect(c.get<QPushButton>(ids::CANCEL), &QPushButton::clicked, this, [this] { onCancel(); });
}

control::EscrowOption OptionsDialog::escrowChoice() const {
    for (int i = 0; i < control::ESCROW_OPTION_COUNT; ++i)
        if (controls().get<QRadioButton>(ids::ESCROW_MANUAL + i)->isChecked())
            return control::escrowOptionAt(i);
    return control::EscrowOption::Manual;
}

void OptionsDialog::accept() {
    const control::EscrowOption choice = escrowChoice();
    finishWith([this, choice] {
        if (h_.ok) h_.ok(choice);
    });
}

void OptionsDialog::onCancel() {
    finishWith([this] {
        if (h_.cancel) h_.cancel();
    });
}

void OptionsDialog::setSavingControls(bool on) {
    controls().find(ids::BAR_BUTTON)->setEnabled(on);
    controls().find(ids::DATA_PATH)->setEnabled(on);
}

} // namespace norvex::qt
