// SPDX-License-Identifier: GPL-3.0-or-later
#include "WidgetView.h"

#include "MainWindow.h"
#include "PageBar.h"
#include "TemplateBuilder.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QTabBar>
#include <QTreeWidget>

namespace norvex::qt {
namespace {

constexpr int BILL_ROWS = 16;
constexpr int BILL_COLUMNS = 4;

QString fromStd(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

void WidgetView::setFieldText(int id, const std::string& text) {
    MainWindow::setControlText(w_.control(id), fromStd(text));
}

void WidgetView::setWindowTitle(const std::string& text) {
    const QString title = fromStd(text);
    if (w_.windowTitle() != title) w_.QMainWindow::setWindowTitle(title);
}

void WidgetView::setBillCell(int row, int column, const std::string& text) {
    if (row < 0 || row >= BILL_ROWS || column < 0 || column >= BILL_COLUMNS) return;
    if (QTreeWidgetItem* item = w_.billList_->topLevelItem(row)) item->setText(column, fromStd(text));
}

void WidgetView::setBillBox(int row, bool ticked) {
    if (row < 0 || row >= BILL_ROWS) return;
    if (QTreeWidgetItem* item = w_.billList_->topLevelItem(row)) {
        item->setIcon(0, QIcon(boxImage(ticked)));
        item->setData(0, Qt::UserRole, ticked);
    }
}

int WidgetView::firstSelectedBillRow() const {
    for (int row = 0; row < w_.billList_->topLevelItemCount(); ++row)
        if (w_.billList_->topLevelItem(row)->isSelected()) return row;
    return -1;
}

void WidgetView::setCreditDigit(int position, int digit) {
    if (position < 0 || position > 3) return;
    if (digit < 0 || digit > 9) digit = 0;
    if (auto* label = qobject_cast<QLabel*>(w_.control(ids::CREDIT_DIGIT_0 + position))) {
        label->setPixmap(digitImage(digit));
        label->setProperty("digit", digit);
    }
}

void WidgetView::enableControl(int id, bool enabled) {
    if (QWidget* c = w_.control(id)) c->setEnabled(enabled);
}

void WidgetView::selectComPort(int index) {
    if (index < 0 || index >= w_.comSelector_->count()) return;
    const QSignalBlocker block(w_.comSelector_);
    w_.comSelector_->setCurrentIndex(index);
    w_.comSelector_->setToolTip(w_.comSelector_->itemData(index, Qt::ToolTipRole).toString());
}

void WidgetView::selectTab(Page page) {
    const int index = tabIndex(page);
    if (index < 0 || index >= w_.tabs_->count()) return;
    const QSignalBlocker block(w_.tabs_);
    w_.tabs_->setCurrentIndex(index);
}

void WidgetView::invalidate(const Rect& r, bool) {
    // Every paint repaints the whole of what it covers, so erasing first changes nothing.
    w_.client_->update(QRect(r.left, r.top, r.right - r.left, r.bottom - r.top));
}

void WidgetView::invalidateWindow(bool) {
    w_.client_->update();
}

MsgResult WidgetView::messageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                                 MsgIcon icon) {
    return w_.messageBox(text, caption, buttons, icon);
}

void WidgetView::createBar(Page page) {
    w_.createBar(page);
}
void WidgetView::destroyBar(Page page) {
    w_.destroyBar(page);
}

void WidgetView::activateBar(Page page) {
    if (w_.bar_ && w_.bar_->page() == page) {
        w_.bar_->show();
        w_.bar_->raise();
    }
}

void WidgetView::setBarText(Page page, int id, const std::string& text) {
    MainWindow::setControlText(w_.barControl(page, id), fromStd(text));
}

void WidgetView::enableBarControl(Page page, int id, bool enabled) {
    if (QWidget* c = w_.barControl(page, id)) c->setEnabled(enabled);
}

void WidgetView::openModeless(Modeless which) {
    w_.openModeless(which);
}
void WidgetView::activateModeless(Modeless which) {
    w_.activateModeless(which);
}
void WidgetView::closeModeless(Modeless which) {
    w_.closeModeless(which);
}

bool WidgetView::chooseSaveFile(const std::string& title, const std::string& proposedName,
                                const std::string& filterLabel, std::string& path) {
    return w_.chooseSaveFile(title, proposedName, filterLabel, path);
}

void WidgetView::startPollTimer(unsigned periodMs) {
    w_.pollTimer_.start(static_cast<int>(periodMs));
}
void WidgetView::stopPollTimer() {
    w_.pollTimer_.stop();
}

void WidgetView::beep() {
    QApplication::beep();
}

} // namespace norvex::qt
