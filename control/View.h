// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The view operations: the only contact between the toolkit-free logic and the window system.
// The Qt binding implements them with widgets; tests use a recorder.

#include "ControlIds.h"
#include "MessageBox.h"
#include "Page.h"
#include "PaintSurface.h"

#include <string>

namespace norvex {

// Modeless windows that the logic opens and the binding shows.
enum class Modeless { EscrowPrompt, LogFile, Options, Download };

class View {
public:
    virtual ~View() = default;

    // Numbered text fields of the main window: the property fields 1003-1009, the page frame
    // caption 1000 and the mode-bit note 1049.
    virtual void setFieldText(int id, const std::string& text) = 0;
    virtual void setWindowTitle(const std::string& text) = 0;

    // Bill list (16 rows, 4 columns).
    virtual void setBillCell(int row, int column, const std::string& text) = 0;
    virtual void setBillBox(int row, bool ticked) = 0;
    // Lowest-numbered selected row, -1 when none is selected.
    virtual int firstSelectedBillRow() const = 0;

    // Credit digit 0 (thousands) .. 3 (units) shows the image of `digit`.
    virtual void setCreditDigit(int position, int digit) = 0;

    // A control of the main window (START, the port selector). Ids repeat between windows (1017
    // is RE-CONNECT, Read Stats, Read Sensors and Options' Browse), so every look-up stays within
    // the window or bar meant.
    virtual void enableControl(int id, bool enabled) = 0;
    virtual void selectComPort(int index) = 0;
    virtual void selectTab(Page page) = 0;

    virtual void invalidate(const Rect& r, bool erase) = 0;
    virtual void invalidateWindow(bool erase) = 0;

    virtual MsgResult messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                 MsgIcon icon) = 0;

    // Page bars: one per page, created from its template in the bar slot.
    virtual void createBar(Page page) = 0;
    virtual void destroyBar(Page page) = 0;
    virtual void activateBar(Page page) = 0;
    // A control on the bar of `page` (the caption of 1027, 1028, 1029; RE-CONNECT enabled);
    // nothing when that page's bar is not the one shown.
    virtual void setBarText(Page page, int id, const std::string& text) = 0;
    virtual void enableBarControl(Page page, int id, bool enabled) = 0;

    // Modeless windows owned by the main window.
    virtual void openModeless(Modeless which) = 0;
    virtual void activateModeless(Modeless which) = 0;
    virtual void closeModeless(Modeless which) = 0;

    // File dialogs. True with the chosen full path when the operator confirms.
    virtual bool chooseSaveFile(const std::string& title, const std::string& proposedName,
                                const std::string& filterLabel, std::string& path) = 0;

    // The poll timer (identifier 2).
    virtual void startPollTimer(unsigned periodMs) = 0;
    virtual void stopPollTimer() = 0;

    // The system's default beep.
    virtual void beep() = 0;
};

} // namespace norvex
