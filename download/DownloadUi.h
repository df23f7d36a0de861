// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "control/MessageBox.h"

#include <optional>
#include <string>

namespace norvex::download {

// The file-open dialog as the download asks for it.
struct ImageFileRequest {
    std::string defaultExtension; // "TVK"
    std::string initialName;      // "*.TVK"
    std::string filter;       // "VNTprogram_file(*.TVK)|*.TVK|": pairs of label and pattern, '|' separated
    bool hideReadOnly = true; // the read-only check box is hidden
    bool ownerless = true;    // the dialog has no owner window
};

// Everything the download shows to the operator. The progress window is dialog template 152:
// title "Download in progress", the static text "Please wait until download process is finished....",
// group box 1037 (caption "file name:" until the procedure sets it) and a smooth progress bar 1036.
class DownloadUi {
public:
    virtual ~DownloadUi() = default;

    // A modal message box; returns the button pressed (Ok when the box has only OK). The download
    // asks only for OK or OK and Cancel.
    virtual MsgResult message(const std::string& text, const std::string& caption, MsgButtons buttons,
                              MsgIcon icon) = 0;

    // The file-open dialog; the full path chosen, or nothing when the operator cancelled.
    virtual std::optional<std::string> chooseImageFile(const ImageFileRequest& request) = 0;

    // Repaints the main window where the file dialog was, without erasing the background.
    virtual void invalidateMainWindow() = 0;

    // The progress window: created once and shown (calling it again is harmless), then driven by the
    // procedure, and closed before the procedure returns.
    virtual void openProgress() = 0;
    virtual void setProgressCaption(const std::string& caption) = 0;
    virtual void setProgressRange(int lower, int upper) = 0;
    virtual void setProgressStep(int step) = 0;
    virtual void stepProgress() = 0;
    virtual void closeProgress() = 0;

    // Lets the windows repaint while the transfer runs; the operator cannot act meanwhile.
    // Returns whether anything was handled; the transfer goes on either way.
    virtual bool pumpEvents() = 0;
};

} // namespace norvex::download
