// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A window that shows nothing: the view operations and a paint surface for the fuzz targets.
// Each operation checks that the logic asks for something the real window can show (a row,
// column, digit, page or control that exists); anything else aborts, so libFuzzer reports it.

#include "control/PaintSurface.h"
#include "control/View.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace norvex::fuzz {

[[noreturn]] inline void fail(const char* what, int a, int b = 0) {
    std::fprintf(stderr, "headless view: %s (%d, %d)\n", what, a, b);
    std::abort();
}

inline void expectRange(const char* what, int value, int low, int high) {
    if (value < low || value > high) fail(what, value, high);
}

class HeadlessView : public View {
public:
    // Row returned as the bill list's selection (-1: none).
    int selectedRow = -1;
    // Answer to every message box that asks a question.
    MsgResult answer = MsgResult::Yes;

    void setFieldText(int id, const std::string&) override { expectRange("field id", id, 1000, 1049); }
    void setWindowTitle(const std::string&) override {}
    void setBillCell(int row, int column, const std::string&) override {
        expectRange("bill row", row, 0, 15);
        expectRange("bill column", column, 0, 3);
    }
    void setBillBox(int row, bool) override { expectRange("bill box row", row, 0, 15); }
    int firstSelectedBillRow() const override { return selectedRow; }
    void setCreditDigit(int position, int digit) override {
        expectRange("credit digit position", position, 0, 3);
        expectRange("credit digit", digit, 0, 9);
    }
    void enableControl(int id, bool) override { expectRange("main window control", id, 1016, 1048); }
    void setBarText(Page page, int id, const std::string&) override {
        expectRange("bar page", tabIndex(page), 0, PAGE_COUNT - 1);
        expectRange("bar control", id, 1017, 1029);
    }
    void enableBarControl(Page page, int id, bool) override {
        expectRange("bar page", tabIndex(page), 0, PAGE_COUNT - 1);
        expectRange("bar control", id, 1017, 1029);
    }
    void beep() override {}
    void selectComPort(int index) override { expectRange("COM selector entry", index, 0, 3); }
    void selectTab(Page page) override { expectRange("tab", tabIndex(page), 0, PAGE_COUNT - 1); }
    void invalidate(const Rect& r, bool) override { checkRect("invalidated rectangle", r); }
    void invalidateWindow(bool) override {}
    MsgResult messageBox(const std::string&, const std::string&, MsgButtons buttons, MsgIcon) override {
        if (buttons == MsgButtons::Ok) return MsgResult::Ok;
        if (buttons == MsgButtons::OkCancel)
            return answer == MsgResult::Yes || answer == MsgResult::Ok ? MsgResult::Ok : MsgResult::Cancel;
        return answer == MsgResult::Yes || answer == MsgResult::Ok ? MsgResult::Yes : MsgResult::No;
    }
    void createBar(Page page) override {
        expectRange("bar page", tabIndex(page), 0, PAGE_COUNT - 1);
        if (bar_ >= 0) fail("second bar created", bar_, tabIndex(page));
        bar_ = tabIndex(page);
    }
    void destroyBar(Page page) override {
        if (tabIndex(page) != bar_) fail("destroyed bar is not the one shown", tabIndex(page), bar_);
        bar_ = -1;
    }
    void activateBar(Page page) override {
        if (tabIndex(page) != bar_) fail("activated bar is not the one shown", tabIndex(page), bar_);
    }
    void openModeless(Modeless) override {}
    void activateModeless(Modeless) override {}
    void closeModeless(Modeless) override {}
    // The path the operator picks in a file dialog; empty: the operator cancels.
    std::string savePath;
    bool chooseSaveFile(const std::string&, const std::string&, const std::string&,
                        std::string& path) override {
        if (savePath.empty()) return false;
        path = savePath;
        return true;
    }
    void startPollTimer(unsigned periodMs) override {
        if (periodMs == 0) fail("poll timer started with period 0", 0);
    }
    void stopPollTimer() override {}

    // The client area of the main window is well inside this.
    static void checkRect(const char* what, const Rect& r) {
        if (r.left < 0 || r.top < 0 || r.right > 2000 || r.bottom > 2000 || r.left > r.right ||
            r.top > r.bottom)
            fail(what, r.left, r.top);
    }

private:
    int bar_ = -1; // the tab index of the page whose bar is shown
};

class HeadlessSurface : public PaintSurface {
public:
    void fillRect(const Rect& r, Rgb) override { HeadlessView::checkRect("filled rectangle", r); }
    void drawText(int x, int y, std::string_view text, Rgb, Rgb) override {
        checkPoint("text position", x, y);
        for (char c : text)
            if (c == '\0') fail("text with a NUL byte", x, y);
    }
    void drawLine(int x1, int y1, int x2, int y2, Rgb, int width) override {
        checkPoint("line start", x1, y1);
        checkPoint("line end", x2, y2);
        expectRange("pen width", width, 1, 4);
    }

private:
    static void checkPoint(const char* what, int x, int y) {
        if (x < -50 || y < -50 || x > 2000 || y > 2000) fail(what, x, y);
    }
};

} // namespace norvex::fuzz
