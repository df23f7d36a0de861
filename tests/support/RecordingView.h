// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A view that records what the logic asked of the window, for headless tests.

#include "control/View.h"

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace norvex::test {

struct Message {
    std::string text, caption;
    MsgButtons buttons;
    MsgIcon icon;
};

class RecordingView : public View {
public:
    std::map<int, std::string> fields;
    std::string title;
    std::string cells[16][4];
    bool boxes[16] = {};
    int selectedRow = -1;
    int digits[4] = {0, 0, 0, 0};
    std::map<int, bool> enabled;
    int comPort = -1;
    int tab = -1; // pages and bars are recorded by their tab index
    std::vector<std::pair<Rect, bool>> invalidations;
    int windowInvalidations = 0;
    std::vector<Message> messages;
    std::deque<MsgResult> answers; // answers to questions, in order; Yes/Ok when empty
    std::map<int, int> barsCreated, barsDestroyed, barsActivated;
    std::vector<int> liveBars;
    std::map<Modeless, int> opened, activated, closed;
    unsigned timerPeriod = 0;
    bool timerRunning = false;
    int timerStarts = 0;

    void setFieldText(int id, const std::string& text) override { fields[id] = text; }
    void setWindowTitle(const std::string& text) override { title = text; }
    void setBillCell(int row, int column, const std::string& text) override { cells[row][column] = text; }
    void setBillBox(int row, bool ticked) override { boxes[row] = ticked; }
    int firstSelectedBillRow() const override { return selectedRow; }
    void setCreditDigit(int position, int digit) override { digits[position] = digit; }
    void enableControl(int id, bool on) override { enabled[id] = on; }
    void selectComPort(int index) override { comPort = index; }
    void selectTab(Page page) override { tab = tabIndex(page); }
    void invalidate(const Rect& r, bool erase) override { invalidations.emplace_back(r, erase); }
    void invalidateWindow(bool) override { ++windowInvalidations; }
    MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                         MsgIcon icon) override {
        messages.push_back({text, caption, buttons, icon});
        if (!answers.empty()) {
            MsgResult r = answers.front();
            answers.pop_front();
            return r;
        }
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    }
    void createBar(Page page) override {
        ++barsCreated[tabIndex(page)];
        liveBars.push_back(tabIndex(page));
    }
    void destroyBar(Page page) override {
        ++barsDestroyed[tabIndex(page)];
        std::erase(liveBars, tabIndex(page));
    }
    void activateBar(Page page) override { ++barsActivated[tabIndex(page)]; }
    // Bar controls by (tab index of the page, id), as the logic addressed them.
    std::map<std::pair<int, int>, std::string> barTexts;
    std::map<std::pair<int, int>, bool> barEnabled;
    void setBarText(Page page, int id, const std::string& text) override {
        barTexts[{tabIndex(page), id}] = text;
    }
    void enableBarControl(Page page, int id, bool on) override { barEnabled[{tabIndex(page), id}] = on; }
    int beeps = 0;
    void beep() override { ++beeps; }
    void openModeless(Modeless w) override { ++opened[w]; }
    void activateModeless(Modeless w) override { ++activated[w]; }
    void closeModeless(Modeless w) override { ++closed[w]; }
    std::deque<std::string> savePaths; // answers to file dialogs; empty = cancelled
    std::vector<std::string> fileDialogProposals;
    bool chooseSaveFile(const std::string&, const std::string& proposedName, const std::string&,
                        std::string& path) override {
        fileDialogProposals.push_back(proposedName);
        if (savePaths.empty()) return false;
        path = savePaths.front();
        savePaths.pop_front();
        return true;
    }
    void startPollTimer(unsigned periodMs) override {
        timerPeriod = periodMs;
        timerRunning = true;
        ++timerStarts;
    }
    void stopPollTimer() override { timerRunning = false; }

    bool invalidated(const Rect& r) const {
        for (const auto& [rect, erase] : invalidations)
            if (rect == r) return true;
        return false;
    }
    const Message* lastMessage() const { return messages.empty() ? nullptr : &messages.back(); }
};

} // namespace norvex::test
