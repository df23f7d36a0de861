// SPDX-License-Identifier: GPL-3.0-or-later
#include "WidgetDownloadUi.h"

#include "DownloadProgressDialog.h"
#include "MainWindow.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QStringList>

namespace norvex::qt {

MsgResult WidgetDownloadUi::message(const std::string& text, const std::string& caption, MsgButtons buttons,
                                    MsgIcon icon) {
    return w_.view_.messageBox(text, caption, buttons, icon);
}

std::string WidgetDownloadUi::qtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(u'|', Qt::SkipEmptyParts);
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString label = parts[i];
        // A label that names its pattern already, as in "files(*.TVK)", is used as it is.
        entries << (label.contains(u'(') ? label : QStringLiteral("%1 (%2)").arg(label, parts[i + 1]));
    }
    return entries.join(QStringLiteral(";;")).toStdString();
}

std::optional<std::string> WidgetDownloadUi::chooseImageFile(const download::ImageFileRequest& request) {
    QFileDialog dialog(request.ownerless ? nullptr : &w_);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QString::fromStdString(qtFilter(request.filter)));
    dialog.setDefaultSuffix(QString::fromStdString(request.defaultExtension));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

void WidgetDownloadUi::invalidateMainWindow() {
    w_.clientArea()->update();
}

DownloadProgressDialog* WidgetDownloadUi::progress() const {
    return qobject_cast<DownloadProgressDialog*>(w_.modeless(Modeless::Download));
}

void WidgetDownloadUi::openProgress() {
    w_.openModeless(Modeless::Download);
}

void WidgetDownloadUi::setProgressCaption(const std::string& caption) {
    if (DownloadProgressDialog* d = progress()) d->setCaption(caption);
}

void WidgetDownloadUi::setProgressRange(int lower, int upper) {
    if (DownloadProgressDialog* d = progress()) d->setRange(lower, upper);
}

void WidgetDownloadUi::setProgressStep(int step) {
    if (DownloadProgressDialog* d = progress()) d->setStep(step);
}

void WidgetDownloadUi::stepProgress() {
    if (DownloadProgressDialog* d = progress()) d->step();
}

void WidgetDownloadUi::closeProgress() {
    w_.closeModeless(Modeless::Download);
}

bool WidgetDownloadUi::pumpEvents() {
    // Repaints only: the operator cannot act while the transfer runs.
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return true;
}

} // namespace norvex::qt
