// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A modeless window of the main window (escrow prompt, log-file dialog, Options, download
// progress) built from its template. It ends once: by the operator's answer, which it reports
// to the main window's logic, or by the logic closing it, which reports nothing.

#include "TemplateBuilder.h"

#include <QDialog>

#include <functional>

namespace norvex::qt {

class ModelessDialog : public QDialog {
    Q_OBJECT
public:
    ModelessDialog(const Template& t, QWidget* owner);

    const BuiltControls& controls() const { return controls_; }
    bool finished() const { return finished_; }

    // Called once when the dialog ends, whichever way; the main window forgets it there.
    void setOnFinished(std::function<void()> f) { onFinished_ = std::move(f); }

    // Closed by the logic: no answer is reported.
    void dismiss();

    // Escape and the close box.
    void reject() override;

protected:
    // Ends the dialog after running `answer` (the report to the logic). Safe against the logic
    // closing the dialog from inside `answer`.
    void finishWith(const std::function<void()>& answer);

    virtual void onCancel() { dismiss(); }

private:
    void end();

    BuiltControls controls_;
    std::function<void()> onFinished_;
    bool finished_ = false;
};

} // namespace norvex::qt
