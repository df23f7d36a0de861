#include "HelpWindow.h"

#include "TemplateBuilder.h"

#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace norvex::qt {

HelpWindow::HelpWindow(QWidget* owner) : QDialog(owner), browser_(new QTextBrowser(this)) {
    initResources();
    setWindowTitle(QStringLiteral("Norvex Help"));
    setModal(false);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(browser_);
    browser_->setOpenExternalLinks(false);
    browser_->setSource(QUrl(QStringLiteral("qrc:/norvex/help/index.html")));
    resize(640, 560);
}

} // namespace norvex::qt
