// SPDX-License-Identifier: GPL-3.0-or-later
#include "ModelessDialog.h"

namespace norvex::qt {

ModelessDialog::ModelessDialog(const Template& t, QWidget* owner) : QDialog(owner, dialogWindowFlags()) {
    setWindowTitle(QString::fromUtf8(t.title));
    setModal(false);
    controls_ = buildTemplate(t, this);
    setFixedSize(templateSize(t));
}

void ModelessDialog::dismiss() {
    if (finished_) return;
    finished_ = true;
    end();
}

void ModelessDialog::finishWith(const std::function<void()>& answer) {
    if (finished_) return;
    finished_ = true;
    hide();
    if (answer) answer();
    end();
}

void ModelessDialog::reject() {
    if (!finished_) onCancel();
}

void ModelessDialog::end() {
    hide();
    if (onFinished_) {
        auto f = std::move(onFinished_);
        onFinished_ = nullptr;
        f();
    }
    deleteLater();
}

} // namespace norvex::qt
