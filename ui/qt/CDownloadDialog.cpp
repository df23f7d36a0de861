#include "CDownloadDialog.h"

#include "CCaptionFrame.h"

#include <QProgressBar>

#include <algorithm>

namespace norvex::qt {

CDownloadDialog::CDownloadDialog(QWidget* owner)
    : CModelessDialog(*findTemplate(templates::DOWNLOAD), owner) {
    setWindowFlag(Qt::WindowCloseButtonHint, false);
}

QProgressBar* CDownloadDialog::progressBar() const {
    return controls().get<QProgressBar>(ctl::PROGRESS);
}

void CDownloadDialog::setCaption(const std::string& caption) {
    controls().get<CCaptionFrame>(ctl::PROGRESS_GROUP)->setTitle(QString::fromStdString(caption));
}

void CDownloadDialog::setRange(int lower, int upper) {
    if (upper < lower) upper = lower;
    progressBar()->setRange(lower, upper);
    progressBar()->setValue(lower);
}

void CDownloadDialog::step() {
    QProgressBar* bar = progressBar();
    bar->setValue(std::min(bar->maximum(), bar->value() + step_));
}

} // namespace norvex::qt
