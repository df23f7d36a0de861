#include "CModelessDialog.h"

namespace norvex::qt {

CModelessDialog::CModelessDialog(const Template& t, QWidget* owner) : QDialog(owner, dialogWindowFlags()) {
    setWindowTitle(QString::fromUtf8(t.title));
    setModal(false);
    controls_ = buildTemplate(t, this);
    setFixedSize(templateSize(t));
}

void CModelessDialog::dismiss() {
    if (finished_) return;
    finished_ = true;
    end();
}

void CModelessDialog::finishWith(const std::function<void()>& answer) {
    if (finished_) return;
    finished_ = true;
    hide();
    if (answer) answer();
    end();
}

void CModelessDialog::reject() {
    if (!finished_) onCancel();
}

void CModelessDialog::end() {
    hide();
    if (onFinished_) {
        auto f = std::move(onFinished_);
        onFinished_ = nullptr;
        f();
    }
    deleteLater();
}

} // namespace norvex::qt
