// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchView.h"

namespace norvex::batch {

MsgResult BatchView::messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                MsgIcon) {
    report(caption, text);
    switch (buttons) {
    case MsgButtons::YesNo:
        return MsgResult::No;
    case MsgButtons::OkCancel:
        return MsgResult::Cancel;
    case MsgButtons::Ok:
        break;
    }
    return MsgResult::Ok;
}

void BatchView::openModeless(Modeless which) {
    // The escrow option is always automatic here, so the prompt should never be asked for;
    // if it is, nobody can answer it, and the bill stays in escrow until the validator gives
    // it back.
    if (which == Modeless::EscrowPrompt) report("Escrow", "a bill waits in escrow and nobody can answer");
}

void BatchView::startPollTimer(unsigned periodMs) {
    timerPeriodMs_ = periodMs;
    timerRunning_ = true;
    ++timerGeneration_;
}

std::string BatchView::field(int id) const {
    const auto it = fields_.find(id);
    return it == fields_.end() ? std::string() : it->second;
}

void BatchView::report(const std::string& caption, const std::string& text) {
    if (!err_) return;
    std::fprintf(err_, "%s: %s\n", caption.c_str(), text.c_str());
    std::fflush(err_);
}

} // namespace norvex::batch
