// SPDX-License-Identifier: GPL-3.0-or-later
#include "DownloadProgressDialog.h"

#include "CaptionFrame.h"

#include <QProgressBar>

#include <algorithm>

namespace norvex::qt {

DownloadProgressDialog::DownloadProgressDialog(QWidget* owner)
    : ModelessDialog(*findTemplate(templates::DOWNLOAD), owner) {
    setWindowFlag(Qt::WindowCloseButtonHint, false);
}

QProgressBar* DownloadProgressDialog::progressBar() const {
    return controls().get<QProgressBar>(ids::PROGRESS);
}

void DownloadProgressDialog::setCaption(const std::string& caption) {
    controls().get<CaptionFrame>(ids::PROGRESS_GROUP)->setTitle(QString::fromStdString(caption));
}

void DownloadProgressDialog::setRange(int lower, int upper) {
    if (upper < lower) upper = lower;
    progressBar()->setRange(lower, upper);
    progressBar()->setValue(lower);
}

void DownloadProgressDialog::step() {
    QProgressBar* bar = progressBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + step_));
}

} // namespace norvex::qt
