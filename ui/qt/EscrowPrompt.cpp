// SPDX-License-Identifier: GPL-3.0-or-later
#include "EscrowPrompt.h"

#include <QEvent>
#include <QKeyEvent>
#include <QPushButton>

namespace norvex::qt {

EscrowPrompt::EscrowPrompt(QWidget* owner, std::function<void(bool)> answer)
    : ModelessDialog(*findTemplate(templates::ESCROW), owner), answer_(std::move(answer)) {
    accept_ = controls().get<QPushButton>(ids::OK);
    reject_ = controls().get<QPushButton>(ids::CANCEL);
    for (QPushButton* button : {accept_, reject_}) {
        button->setDefault(false);
        button->setAutoDefault(false);
    }
    connect(accept_, &QPushButton::clicked, this, [this] { answerWith(true); });
    connect(reject_, &QPushButton::clicked, this, [this] { answerWith(false); });
    setAttribute(Qt::WA_ShowWithoutActivating);
    // The prompt itself holds the keyboard when it is activated, so that no button is chosen
    // before the operator chooses one.
    setFocusPolicy(Qt::ClickFocus);
    setFocus();
}

void EscrowPrompt::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        // Only a button the operator has picked; nothing when the prompt itself has the keyboard.
        QWidget* focused = focusWidget();
        if (focused == accept_ || focused == reject_) static_cast<QPushButton*>(focused)->click();
        return;
    }
    ModelessDialog::keyPressEvent(event); // Escape: REJECT
}

void EscrowPrompt::changeEvent(QEvent* event) {
    // Left for another window: the next activation again starts with no button chosen.
    if (event->type() == QEvent::ActivationChange && !isActiveWindow()) setFocus();
    ModelessDialog::changeEvent(event);
}

void EscrowPrompt::answerWith(bool accept) {
    finishWith([this, accept] {
        if (answer_) answer_(accept);
    });
}

} // namespace norvex::qt
