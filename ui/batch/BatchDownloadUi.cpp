// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchDownloadUi.h"

namespace norvex::batch {

MsgResult BatchDownloadUi::message(const std::string& text, const std::string& caption, MsgButtons buttons,
                                   MsgIcon) {
    view_.report(caption, text);
    return buttons == MsgButtons::OkCancel ? MsgResult::Cancel : MsgResult::Ok;
}

void BatchDownloadUi::setProgressRange(int lower, int upper) {
    total_ = upper > lower ? upper - lower : 0;
    done_ = 0;
    percent_ = -1;
    if (total_ == 0) print("progress: no records");
}

void BatchDownloadUi::stepProgress() {
    ++done_;
    const int percent = total_ > 0 ? done_ * 100 / total_ : 100;
    if (percent == percent_ && done_ != total_) return;
    percent_ = percent;
    char line[80];
    std::snprintf(line, sizeof line, "progress: %d/%d records (%d%%)", done_, total_, percent);
    print(line);
}

void BatchDownloadUi::print(const std::string& text) {
    if (!out_) return;
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

} // namespace norvex::batch
