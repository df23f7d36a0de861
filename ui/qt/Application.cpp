// SPDX-License-Identifier: GPL-3.0-or-later
#include "Application.h"

#include "MainWindow.h"
#include "StopSignals.h"
#include "TemplateBuilder.h"
#include "history/History.h"

#include <QFont>
#include <QIcon>
#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace norvex::qt {

namespace {

// The window while its event loop runs: Qt ends the process with exit() when the display's
// connection breaks (the X server ended, the session was lost), which skips the window's own
// ending; this brings it back.
std::atomic<MainWindow*> runningWindow{nullptr};

void endWindowAtExit() {
    if (MainWindow* window = runningWindow.exchange(nullptr)) window->endWithoutDisplay();
}

// While the platform starts: Qt ends the process with abort() and "Reinstalling the application
// may fix this problem" when no display answers (a DISPLAY left from an ended ssh -X session, a
// compositor's socket that is gone). Nothing is open yet, so the program ends with status 1 and
// says what to check; Qt's own warnings before it name the display it tried.
QtMessageHandler previousHandler = nullptr;

void platformStartHandler(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (previousHandler)
            previousHandler(type, context, text);
        else
            std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    const auto shown = [](const char* name) {
        const char* v = std::getenv(name);
        return QString::fromLocal8Bit(v && *v ? v : "(not set)");
    };
    const QString message =
        QStringLiteral(
            "norvex: the window cannot open: no display answers at DISPLAY=%1, WAYLAND_DISPLAY=%2%3.\n"
            "Check that the desktop session is running and this user may use it (after ssh, "
            "connect again with -X),\nchoose a Qt platform with QT_QPA_PLATFORM, or use the "
            "batch mode without a window: norvex --batch --help\n")
            .arg(shown("DISPLAY"), shown("WAYLAND_DISPLAY"),
                 std::getenv("QT_QPA_PLATFORM")
                     ? QStringLiteral(", QT_QPA_PLATFORM=") + shown("QT_QPA_PLATFORM")
                     : QString());
    std::fputs(message.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    std::_Exit(1);
}

int& watchPlatformStart(int& argc) {
    previousHandler = qInstallMessageHandler(platformStartHandler);
    return argc;
}

} // namespace

Application::Application(int& argc, char** argv) : QApplication(watchPlatformStart(argc), argv) {
    qInstallMessageHandler(previousHandler);
    setApplicationName(QStringLiteral("Norvex"));
    setApplicationVersion(QStringLiteral("2.0"));
    // A Wayland compositor finds the window's desktop entry (its name and icon in the dock and the
    // task switcher) by this id, not by the program's name: it is the entry's file name.
    setDesktopFileName(QStringLiteral("org.norvex.Norvex"));
    applyLook();
}

void Application::applyLook() {
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/norvex/images/norvex.png")));
    // A small dialog font, so that the template texts fit their rectangles.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

int Application::run(link::PortMap& ports, const std::string& portsFile, const std::string& historyUrl) {
    std::unique_ptr<history::History> history;
    MainWindowSetup setup;
    setup.portsFile = portsFile;
    if (!historyUrl.empty()) {
        history = std::make_unique<history::History>(historyUrl);
        setup.history = history.get();
    }
    MainWindow window(ports, setup);
    // SIGINT, SIGTERM and SIGHUP close the window as EXIT does.
    const StopSignals stopSignals([&window](int signal) { window.endBySignal(signal); });
    static const bool atExit = std::atexit(endWindowAtExit) == 0;
    if (atExit) runningWindow = &window;
    window.show();
    const int status = exec();
    runningWindow = nullptr;
    return window.endingSignal() != 0 ? 128 + window.endingSignal() : status;
}

} // namespace norvex::qt
