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
    c.get<QRadioButton>(ids::ESCROW_MANUAL + escrowChoice)->setChecked(true);
    c.get<QRadioButton>(savingChoice == 1 ? ids::SAVING : ids::NO_SAVING)->setChecked(true);
    c.get<QLabel>(ids::DATA_PATH)->setText(QString::fromStdString(dataFilePath));
    setSavingControls(savingChoice == 1);

    connect(c.get<QRadioButton>(ids::NO_SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(0);
        setSavingControls(false);
    });
    connect(c.get<QRadioButton>(ids::SAVING), &QRadioButton::clicked, this, [this] {
        if (h_.dataSaving) h_.dataSaving(1);
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

int OptionsDialog::escrowChoice() const {
    for (int i = 0; i < 3; ++i)
        if (controls().get<QRadioButton>(ids::ESCROW_MANUAL + i)->isChecked()) return i;
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
    controls().find(ids::BAR_BUTTON)->setEnabled(on);
    controls().find(ids::DATA_PATH)->setEnabled(on);
}

} // namespace norvex::qt
