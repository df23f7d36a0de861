#pragma once
// The help contents: our own pages from the resources in a browser window.

#include <QDialog>

class QTextBrowser;

namespace norvex::qt {

class HelpWindow final : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* owner);
    QTextBrowser* browser() const { return browser_; }

private:
    QTextBrowser* browser_;
};

} // namespace norvex::qt
