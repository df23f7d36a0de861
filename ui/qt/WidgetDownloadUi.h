// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the firmware download shows, on the Qt main window: message boxes, the image file
// dialog and the progress window.

#include "download/DownloadUi.h"

namespace norvex::qt {

class DownloadProgressDialog;
class MainWindow;

class WidgetDownloadUi final : public download::DownloadUi {
public:
    explicit WidgetDownloadUi(MainWindow& window) : w_(window) {}

    MsgResult message(const std::string& text, const std::string& caption, MsgButtons buttons,
                      MsgIcon icon) override;
    std::optional<std::string> chooseImageFile(const download::ImageFileRequest& request) override;
    void invalidateMainWindow() override;
    void openProgress() override;
    void setProgressCaption(const std::string& caption) override;
    void setProgressRange(int lower, int upper) override;
    void setProgressStep(int step) override;
    void stepProgress() override;
    void closeProgress() override;
    bool pumpEvents() override;

    // "label|pattern|label|pattern|" to the file dialog's "label (pattern);;label (pattern)".
    static std::string qtFilter(const std::string& filter);

private:
    DownloadProgressDialog* progress() const;

    MainWindow& w_;
};

} // namespace norvex::qt
