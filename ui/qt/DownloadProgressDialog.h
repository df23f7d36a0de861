// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The progress window of the firmware download. It cannot be closed by the operator; the
// download closes it when it ends.

#include "ModelessDialog.h"

#include <string>

class QProgressBar;

namespace norvex::qt {

class DownloadProgressDialog final : public ModelessDialog {
    Q_OBJECT
public:
    explicit DownloadProgressDialog(QWidget* owner);

    void setCaption(const std::string& caption);
    void setRange(int lower, int upper);
    void setStep(int step) { step_ = step; }
    void step();
    QProgressBar* progressBar() const;

protected:
    void onCancel() override {}

private:
    int step_ = 1;
};

} // namespace norvex::qt
