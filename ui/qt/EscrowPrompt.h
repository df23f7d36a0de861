// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The escrow prompt: ACCEPT moves the bill forward into the cash box, REJECT (also Escape and the
// close box) returns it.
//
// It comes up when the validator holds a bill, whatever the operator is typing in another window
// (the bus monitor's command line, say), so it answers only what is meant for it: it shows without
// taking the keyboard, neither button is a default that an Enter could press, and when the prompt
// is activated (a click on it, the window manager) the keyboard rests on the prompt itself. Tab
// picks a button, which Enter or Space then presses; a click on a button answers at once.

#include "ModelessDialog.h"

#include <functional>

class QPushButton;

namespace norvex::qt {

class EscrowPrompt final : public ModelessDialog {
    Q_OBJECT
public:
    // `answer` gets true for ACCEPT, false for REJECT.
    EscrowPrompt(QWidget* owner, std::function<void(bool accept)> answer);

    void accept() override { answerWith(true); }

protected:
    void onCancel() override { answerWith(false); }
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void answerWith(bool accept);

    std::function<void(bool)> answer_;
    QPushButton* accept_ = nullptr;
    QPushButton* reject_ = nullptr;
};

} // namespace norvex::qt
