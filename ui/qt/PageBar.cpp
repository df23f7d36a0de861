// SPDX-License-Identifier: GPL-3.0-or-later
#include "PageBar.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QPushButton>

namespace norvex::qt {

PageBar::PageBar(Page page, QWidget* parent, std::function<void(int)> command)
    : QWidget(parent), page_(page), command_(std::move(command)) {
    const Template* t = barTemplate(page);
    setObjectName(QStringLiteral("bar%1").arg(tabIndex(page)));
    setGeometry(duToPx(BAR_SLOT_X, BAR_SLOT_Y, BAR_SLOT_W, BAR_SLOT_H));
    if (!t) return;
    controls_ = buildTemplate(*t, this);
    for (const auto& [id, widget] : controls_.byId) {
        if (auto* b = qobject_cast<QAbstractButton*>(widget)) {
            const int buttonId = id;
            connect(b, &QAbstractButton::clicked, this, [this, buttonId] {
                if (command_) command_(buttonId);
            });
        }
    }
}

void PageBar::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        for (const auto& [id, widget] : controls_.byId) {
            auto* b = qobject_cast<QPushButton*>(widget);
            if (b && b->isDefault() && b->isEnabled()) {
                b->click();
                event->accept();
                return;
            }
        }
    }
    QWidget::keyPressEvent(event);
}

} // namespace norvex::qt
