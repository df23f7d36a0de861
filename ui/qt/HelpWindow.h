// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The help contents: our own pages from the resources in a browser window. F1 opens them at the
// topic of the window it is pressed in: each window names its page ("monitor.html") or place
// ("index.html#options").

#include <QDialog>
#include <QString>

class QTextBrowser;
class QWidget;

namespace norvex::qt {

class HelpWindow final : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* owner);
    QTextBrowser* browser() const { return browser_; }
    // Shows a page of the help, at its anchor when the topic has one ("history.html#workshop").
    void showTopic(const QString& topic);

private:
    QTextBrowser* browser_;
};

// The help topic F1 opens in `window`.
void setHelpTopic(QWidget* window, const QString& topic);
// The topic set for `window` itself; empty when none is.
QString ownHelpTopic(const QWidget* window);
// The topic of the window `widget` is in, else of the window that owns that one (a message box
// has its owner's); "index.html" when none has one.
QString helpTopic(const QWidget* widget);

} // namespace norvex::qt
