// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The QApplication of the widget tests (offscreen) and a scratch directory per test.

#include "ui/qt/Application.h"
#include "ui/qt/CaptionFrame.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTimer>

#include <fstream>
#include <iterator>
#include <string>

namespace norvex::test {

inline QApplication& guiApp() {
    static int argc = 1;
    static char name[] = "norvex_gui_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        // Widget tests never need a display.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        auto* a = new QApplication(argc, argv);
        qt::Application::applyLook();
        return a;
    }();
    return *app;
}

// Runs what is queued: deferred deletions, queued calls, paints.
inline void settle() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// A caption as drawn: the '&' that marks the access key is not shown ("&&" shows one).
inline QString shownCaption(QString text) {
    for (qsizetype i = 0; i < text.size(); ++i)
        if (text[i] == QLatin1Char('&')) text.remove(i, 1); // the next character stays, "&&" as "&"
    return text;
}

// Whether the control's caption fits the room its control leaves for it, at the control's own
// font: empty when it does, else what does not fit and by how much.
inline std::string captionOverflow(const QWidget* w) {
    QString text;
    int room = 0, needed = 0;
    const QFontMetrics fm(w->font());
    if (auto* push = qobject_cast<const QPushButton*>(w)) {
        text = push->text();
        QStyleOptionButton opt;
        opt.initFrom(push);
        opt.text = text;
        opt.features = push->isDefault() ? QStyleOptionButton::DefaultButton : QStyleOptionButton::None;
        if (push->autoDefault()) opt.features |= QStyleOptionButton::AutoDefaultButton;
        room = push->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, push).width();
        needed = fm.horizontalAdvance(shownCaption(text));
    } else if (qobject_cast<const QCheckBox*>(w) || qobject_cast<const QRadioButton*>(w)) {
        text = static_cast<const QAbstractButton*>(w)->text();
        room = w->width();
        needed = w->sizeHint().width(); // box or circle, spacing and text
    } else if (auto* label = qobject_cast<const QLabel*>(w)) {
        text = label->text();
        room = label->contentsRect().width() - 2 * label->margin() - label->indent();
        needed = fm.horizontalAdvance(label->buddy() ? shownCaption(text) : text);
    } else if (auto* frame = qobject_cast<const qt::CaptionFrame*>(w)) {
        text = frame->title();
        room = frame->width() - 20; // the caption starts 8 pixels in and leaves as much
        needed = fm.horizontalAdvance(text);
    } else {
        return {};
    }
    if (text.isEmpty() || needed <= room) return {};
    // Appended piece by piece: GCC 12 at -O3 takes a literal + std::string for an overlapping copy.
    std::string what = "\"";
    what += text.toStdString();
    what += "\" needs ";
    what += std::to_string(needed);
    what += " px, has ";
    what += std::to_string(room);
    return what;
}

// A window that ended the application (the firmware download does) leaves the request to quit
// behind, and every event loop started afterwards (a message box's) would return at once. The
// application's own loop takes the request.
inline void takeQuitRequest() {
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace norvex::test
