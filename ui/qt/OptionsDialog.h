#pragma once
// The Options dialog: the escrow option (taken over on OK) and the data-saving option (changed
// at once by its radio buttons), with the choice of the data file.

#include "ModelessDialog.h"

#include <functional>
#include <string>

namespace norvex::qt {

class OptionsDialog final : public ModelessDialog {
    Q_OBJECT
public:
    struct Handlers {
        std::function<void(int choice)> dataSaving; // 0 no saving, 1 saving in file
        std::function<std::string()> browse;        // returns the data file path afterwards
        std::function<void(int escrowChoice)> ok;   // 0 Manual, 1 Automatic Return, 2 Automatic Stacking
        std::function<void()> cancel;
    };

    OptionsDialog(QWidget* owner, int escrowChoice, int savingChoice, const std::string& dataFilePath,
                  Handlers handlers);

    int escrowChoice() const;
    void accept() override;

protected:
    void onCancel() override;

private:
    void setSavingControls(bool on);

    Handlers h_;
};

} // namespace norvex::qt
