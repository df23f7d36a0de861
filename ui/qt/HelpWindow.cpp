// SPDX-License-Identifier: GPL-3.0-or-later
#include "HelpWindow.h"

#include "TemplateBuilder.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>
#include <QVariant>

namespace norvex::qt {

namespace {

constexpr const char* TOPIC_PROPERTY = "norvexHelpTopic";
constexpr const char* HELP_ROOT = "qrc:/norvex/help/";

} // namespace

HelpWindow::HelpWindow(QWidget* owner) : QDialog(owner), browser_(new QTextBrowser(this)) {
    initResources();
    setWindowTitle(QStringLiteral("Norvex Help"));
    setObjectName(QStringLiteral("helpWindow"));
    setModal(false);
    setHelpTopic(this, QStringLiteral("index.html"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(false);
    showTopic(QStringLiteral("index.html"));
    resize(720, 600);
}

void HelpWindow::showTopic(const QString& topic) {
    browser_->setSource(QUrl(QString::fromLatin1(HELP_ROOT) + topic));
}

void setHelpTopic(QWidget* window, const QString& topic) {
    window->setProperty(TOPIC_PROPERTY, topic);
}

QString ownHelpTopic(const QWidget* window) {
    return window ? window->property(TOPIC_PROPERTY).toString() : QString();
}

QString helpTopic(const QWidget* widget) {
    for (const QWidget* w = widget ? widget->window() : nullptr; w;
         w = w->parentWidget() ? w->parentWidget()->window() : nullptr) {
        if (const QString topic = ownHelpTopic(w); !topic.isEmpty()) return topic;
    }
    return QStringLiteral("index.html");
}

} // namespace norvex::qt
