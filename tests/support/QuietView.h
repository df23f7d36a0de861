// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A main window's view that shows nothing, for benchmarks that run the core for a long time:
// message boxes are printed and answered OK, a save dialog gives savePath.

#include "control/View.h"

#include <cstdio>
#include <string>

namespace norvex::test {

class QuietView : public View {
public:
    void setFieldText(int, const std::string&) override {}
    void setWindowTitle(const std::string&) override {}
    void setBillCell(int, int, const std::string&) override {}
    void setBillBox(int, bool) override {}
    int firstSelectedBillRow() const override { return -1; }
    void setCreditDigit(int, int) override {}
    void enableControl(int, bool) override {}
    void setBarText(Page, int, const std::string&) override {}
    void enableBarControl(Page, int, bool) override {}
    void beep() override {}
    void selectComPort(int) override {}
    void selectTab(Page) override {}
    void invalidate(const Rect&, bool) override {}
    void invalidateWindow(bool) override {}
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons, MsgIcon) override {
        std::fprintf(stderr, "message: %s: %s\n", caption.c_str(), text.c_str());
        return MsgResult::Ok;
    }
    void createBar(Page) override {}
    void destroyBar(Page) override {}
    void activateBar(Page) override {}
    void openModeless(Modeless) override {}
    void activateModeless(Modeless) override {}
    void closeModeless(Modeless) override {}
    bool chooseSaveFile(const std::string&, const std::string&, const std::string&,
                        std::string& path) override {
        path = savePath;
        return true;
    }
    void startPollTimer(unsigned) override {}
    void stopPollTimer() override {}
    std::string savePath;
};

} // namespace norvex::test
