// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The Options dialog: the escrow option (taken over on OK) and the data-saving option (changed
// at once by its radio buttons), with the choice of the data file.

#include "ModelessDialog.h"
#include "control/EscrowOption.h"
#include "ui/core/Settings.h"

#include <functional>
#include <string>

namespace norvex::qt {

class OptionsDialog final : public ModelessDialog {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(ui::DataSaving choice)> dataSaving;
        std::function<std::string()> browse; // returns the data file path afterwards
        std::function<void(control::EscrowOption escrowChoice)> ok;
        std::function<void()> cancel;
    };

    OptionsDialog(QWidget* owner, control::EscrowOption escrowChoice, ui::DataSaving savingChoice,
                  const std::string& dataFilePath, Handlers handlers);

    control::EscrowOption escrowChoice() const;
    void accept() override;

protected:
    void onCancel() override;

private:
    void setSavingControls(bool on);

    Handlers h_;
};

} // namespace norvex::qt
