// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The "Diagnostics Log File" dialog: which parts go into the report and the unit's serial
// number.

#include "ModelessDialog.h"

#include <functional>
#include <string>

namespace norvex::qt {

class LogFileDialog final : public ModelessDialog {
    Q_OBJECT
public:
    struct Choice {
        bool statistics, sensors, optics, video;
        std::string serialNumber;
    };
    struct Handlers {
        std::function<void(const Choice&)> ok;
        std::function<void()> cancel;
        std::function<void()> videoClicked; // the video check box, checked or unchecked
    };

    static constexpr int SERIAL_MAX_LENGTH = 10;

    LogFileDialog(QWidget* owner, Handlers handlers);

    Choice choice() const;
    void accept() override;

protected:
    void onCancel() override;

private:
    Handlers h_;
};

} // namespace norvex::qt
