#include "OptionsDialog.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>

namespace norvex::qt {

OptionsDialog::OptionsDialog(QWidget* owner, int escrowChoice, int savingChoice,
                             const std::string& dataFilePath, Handlers handlers)
    : ModelessDialog(*findTemplate(templates::OPTIONS), owner), h_(std::move(handlers)) {
    const BuiltControls& c = controls();
    if (escrowChoice < 0 || escrowChoice > 2) escrowChoice = 0;
    c.get<QRadioButton>(ctl::ESCROW_MANUAL + escrowChoice)->setChecked(true);
    c.get<QRadioButton>(savingChoice == 1 ? ctl::SAVING : ctl::NO_SAVING)->setChecked(true);
    c.get<QLabel>(ctl::DATA_PATH)->setText(QString::fromStdString(dataFilePath));
    setSavingControls(savingChoice == 1);

    connect(c.get<QRadioButton>(ctl::NO_SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(0);
        setSavingControls(false);
    });
    connect(c.get<QRadioButton>(ctl::SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(1);
        setSavingControls(true);
    });
    connect(c.get<QPushButton>(ctl::BROWSE), &QPushButton::clicked, this, [this] {
        if (!h_.browse) return;
        const std::string path = h_.browse();
        if (!finished()) controls().get<QLabel>(ctl::DATA_PATH)->setText(QString::fromStdString(path));
    });
    connect(c.get<QPushButton>(ctl::OK), &QPushButton::clicked, this, [this] { accept(); });
    connect(c.get<QPushButton>(ctl::CANCEL), &QPushButton::clicked, this, [this] { onCancel(); });
}

int OptionsDialog::escrowChoice() const {
    for (int i = 0; i < 3; ++i)
        if (controls().get<QRadioButton>(ctl::ESCROW_MANUAL + i)->isChecked()) return i;
    return 0;
}

void OptionsDialog::accept() {
    const int choice = escrowChoice();
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
    controls().find(ctl::BROWSE)->setEnabled(on);
    controls().find(ctl::DATA_PATH)->setEnabled(on);
}

} // namespace norvex::qt
