// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The view of the batch mode: no window. Message boxes become "caption: text" lines on the
// error stream, the poll timer is a period that the batch loop reads, the property fields are
// kept so that the loop can print them, and everything else is dropped. Nobody is there to
// answer: a question gets its cautious answer (No, Cancel) and a file dialog is cancelled.

#include "control/View.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace norvex::batch {

class BatchView : public View {
public:
    explicit BatchView(std::FILE* err) : err_(err) {}

    void setFieldText(int id, const std::string& text) override { fields_[id] = text; }
    void setWindowTitle(const std::string&) override {}
    void setBillCell(int, int, const std::string&) override {}
    void setBillBox(int, bool) override {}
    int firstSelectedBillRow() const override { return -1; }
    void setCreditDigit(int, int) override {}
    void enableControl(int, bool) override {}
    void selectComPort(int) override {}
    void selectTab(Page) override {}
    void invalidate(const Rect&, bool) override {}
    void invalidateWindow(bool) override {}
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgIcon icon) override;
    void createBar(Page) override {}
    void destroyBar(Page) override {}
    void activateBar(Page) override {}
    void setBarText(Page, int, const std::string&) override {}
    void enableBarControl(Page, int, bool) override {}
    void openModeless(Modeless which) override;
    void activateModeless(Modeless) override {}
    void closeModeless(Modeless) override {}
    bool chooseSaveFile(const std::string&, const std::string&, const std::string&, std::string&) override {
        return false;
    }
    void startPollTimer(unsigned periodMs) override;
    void stopPollTimer() override { timerRunning_ = false; }
    // No window, no system sound: a script's terminal is not rung.
    void beep() override {}

    // The text last set for a numbered field; empty when never set.
    std::string field(int id) const;
    bool timerRunning() const { return timerRunning_; }
    unsigned timerPeriodMs() const { return timerPeriodMs_; }
    // Counts timer starts, so that the loop notices a restart with a new period.
    std::uint32_t timerGeneration() const { return timerGeneration_; }
    // Writes "caption: text" on the error stream, as every message box does here.
    void report(const std::string& caption, const std::string& text);

private:
    std::FILE* err_;
    std::map<int, std::string> fields_;
    bool timerRunning_ = false;
    unsigned timerPeriodMs_ = 0;
    std::uint32_t timerGeneration_ = 0;
};

} // namespace norvex::batch
