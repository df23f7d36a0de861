// SPDX-License-Identifier: GPL-3.0-or-later
#include "AboutDialog.h"

#include "TemplateBuilder.h"

#include <QPushButton>

namespace norvex::qt {

AboutDialog::AboutDialog(QWidget* owner) : QDialog(owner, dialogWindowFlags()) {
    const Template& t = *findTemplate(templates::ABOUT);
    setWindowTitle(QString::fromUtf8(t.title));
    const BuiltControls c = buildTemplate(t, this);
    setFixedSize(templateSize(t));
    auto* ok = c.get<QPushButton>(ids::OK);
    ok->setAutoDefault(true);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

} // namespace norvex::qt
