#include "EscrowPrompt.h"

#include <QPushButton>

namespace norvex::qt {

EscrowPrompt::EscrowPrompt(QWidget* owner, std::function<void(bool)> answer)
    : ModelessDialog(*findTemplate(templates::ESCROW), owner), answer_(std::move(answer)) {
    auto* acceptButton = controls().get<QPushButton>(ids::OK);
    acceptButton->setAutoDefault(true);
    acceptButton->setDefault(true);
    connect(acceptButton, &QPushButton::clicked, this, [this] { answerWith(true); });
    connect(controls().get<QPushButton>(ids::CANCEL), &QPushButton::clicked, this,
            [this] { answerWith(false); });
}

void EscrowPrompt::answerWith(bool accept) {
    finishWith([this, accept] {
        if (answer_) answer_(accept);
    });
}

} // namespace norvex::qt
