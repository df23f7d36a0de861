#pragma once
// The QApplication of the widget tests (offscreen) and a scratch directory per test.

#include "ui/qt/CServiceApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
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
        qt::CServiceApp::applyLook();
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
