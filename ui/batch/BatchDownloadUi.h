// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The firmware download's window in the batch mode: its messages go to the error stream as
// "caption: text", the progress to the output stream as "progress: n/total records (p%)",
// one line whenever the percentage changes. A question cannot be answered: it is cancelled.

#include "BatchView.h"
#include "download/DownloadUi.h"

#include <cstdio>

namespace norvex::batch {

class BatchDownloadUi : public download::DownloadUi {
public:
    BatchDownloadUi(std::FILE* out, BatchView& view) : out_(out), view_(view) {}

    MsgResult message(const std::string& text, const std::string& caption, MsgButtons buttons,
                      MsgIcon icon) override;
    std::optional<std::string> chooseImageFile(const download::ImageFileRequest&) override {
        return std::nullopt;
    }
    void invalidateMainWindow() override {}
    void openProgress() override {}
    void setProgressCaption(const std::string& caption) override { print("download: " + caption); }
    void setProgressRange(int lower, int upper) override;
    void setProgressStep(int) override {}
    void stepProgress() override;
    void closeProgress() override {}
    bool pumpEvents() override { return false; }

    // One line on the output stream, flushed.
    void print(const std::string& text);

private:
    std::FILE* out_;
    BatchView& view_;
    int total_ = 0;
    int done_ = 0;
    int percent_ = -1;
};

} // namespace norvex::batch
