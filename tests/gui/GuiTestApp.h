#pragma once
// The QApplication of the widget tests (offscreen) and a scratch directory per test.

#include "ui/qt/CServiceApp.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>

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

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

} // namespace norvex::test
