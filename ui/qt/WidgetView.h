// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The view operations on the widgets of the Qt main window.

#include "control/View.h"

namespace norvex::qt {

class MainWindow;

class WidgetView final : public View {
public:
    explicit WidgetView(MainWindow& window) : w_(window) {}

    void setFieldText(int id, const std::string& text) override;
    void setWindowTitle(const std::string& text) override;
    void setBillCell(int row, int column, const std::string& text) override;
    void setBillBox(int row, bool ticked) override;
    int firstSelectedBillRow() const override;
    void setCreditDigit(int position, int digit) override;
    void enableControl(int id, bool enabled) override;
    void selectComPort(int index) override;
    void selectTab(Page page) override;
    void invalidate(const Rect& r, bool erase) override;
    void invalidateWindow(bool erase) override;
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgIcon icon) override;
    void createBar(Page page) override;
    void destroyBar(Page page) override;
    void activateBar(Page page) override;
    void setBarText(Page page, int id, const std::string& text) override;
    void enableBarControl(Page page, int id, bool enabled) override;
    void openModeless(Modeless which) override;
    void activateModeless(Modeless which) override;
    void closeModeless(Modeless which) override;
    bool chooseSaveFile(const std::string& title, const std::string& proposedName,
                        const std::string& filterLabel, std::string& path) override;
    void startPollTimer(unsigned periodMs) override;
    void stopPollTimer() override;
    void beep() override;

private:
    MainWindow& w_;
};

} // namespace norvex::qt
