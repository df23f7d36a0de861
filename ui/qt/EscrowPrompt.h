#pragma once
// The escrow prompt: ACCEPT (also Enter) moves the bill forward into the cash box, REJECT
// (also Escape and the close box) returns it.

#include "ModelessDialog.h"

#include <functional>

namespace norvex::qt {

class EscrowPrompt final : public ModelessDialog {
    Q_OBJECT
public:
    // `answer` gets true for ACCEPT, false for REJECT.
    EscrowPrompt(QWidget* owner, std::function<void(bool accept)> answer);

    void accept() override { answerWith(true); }

protected:
    void onCancel() override { answerWith(false); }

private:
    void answerWith(bool accept);

    std::function<void(bool)> answer_;
};

} // namespace norvex::qt
