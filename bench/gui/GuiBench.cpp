// SPDX-License-Identifier: GPL-3.0-or-later
// Window figures, offscreen: start-up to the first paint, the paint time of every page (median
// of 100 paints each), and the poll period as the virtual validator sees it (intervals between
// POLL frames at 20 ms and at 100 ms).

#include "support/SimProcess.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/core/NotificationBridge.h"
#include "ui/qt/Application.h"
#include "ui/qt/MainWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <vector>

using namespace norvex;

namespace {

class FirstPaint : public QObject {
public:
    qint64 at = -1;
    QElapsedTimer* clock = nullptr;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && at < 0) at = clock->nsecsElapsed();
        return false;
    }
};

void spin(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Intervals between POLL frames in the simulator's log, from `fromMs` on.
std::vector<double> pollIntervals(const std::string& log, long fromMs) {
    std::ifstream in(log);
    std::string line;
    const std::regex re("\"t\":(\\d+),\"dir\":\"rx\",\"frame\":\"33 33\"");
    std::vector<long> times;
    while (std::getline(in, line)) {
        std::smatch m;
        if (std::regex_search(line, m, re)) {
            const long t = std::stol(m[1].str());
            if (t >= fromMs) times.push_back(t);
        }
    }
    std::vector<double> d;
    for (std::size_t i = 1; i < times.size(); ++i)
        d.push_back(static_cast<double>(times[i] - times[i - 1]));
    return d;
}

void report(const char* what, std::vector<double> v) {
    if (v.empty()) {
        std::printf("%s: no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    double mean = 0;
    for (double x : v)
        mean += x;
    mean /= static_cast<double>(v.size());
    double var = 0;
    for (double x : v)
        var += (x - mean) * (x - mean);
    std::printf("%s: %zu intervals, median %.1f ms, mean %.2f ms, sd %.2f ms, min %.0f, p99 %.0f, max %.0f\n",
                what, v.size(), v[v.size() / 2], mean, std::sqrt(var / static_cast<double>(v.size())),
                v.front(), v[v.size() * 99 / 100], v.back());
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    QElapsedTimer clock;
    clock.start();
    QApplication app(argc, argv);
    qt::Application::applyLook();
    QTemporaryDir dir;
    const std::string log = dir.filePath("sim.log").toStdString();
    test::SimProcess sim({}, log);

    link::PortMap ports;
    ports.set(0, sim.path());
    qt::MainWindowSetup setup;
    setup.settingsDirectory = dir.path().toStdString();
    qt::MainWindow w(ports, setup);
    FirstPaint first;
    first.clock = &clock;
    w.clientArea()->installEventFilter(&first);
    w.show();
    while (first.at < 0 && clock.elapsed() < 5000)
        QCoreApplication::processEvents();
    std::printf(
        "start-up to first paint: %.1f ms (process start of QApplication to the client area's first paint)\n",
        static_cast<double>(first.at) / 1e6);

    w.core().onStart(w.bridge());
    spin(1500); // start-up sequence: every page has data to draw
    for (int id : {cmd::STATISTICS_REQUEST, cmd::SENSORS_REQUEST, cmd::OPTICS_REQUEST, cmd::VIDEO_REQUEST})
        w.command(id);
    spin(1500);

    static const char* names[] = {"Command - Status", "Statistics", "Sensors",
                                  "Main Optics",      "Video Test", "View Data Xfer"};
    for (int page = 0; page < 6; ++page) {
        w.core().selectPage(*pageAtTab(page));
        spin(50);
        std::vector<double> t;
        for (int i = 0; i < 100; ++i) {
            QElapsedTimer p;
            p.start();
            w.clientArea()->repaint();
            t.push_back(static_cast<double>(p.nsecsElapsed()) / 1e6);
        }
        std::sort(t.begin(), t.end());
        std::printf("paint of page %d (%s): median %.3f ms, max %.3f ms over 100 paints\n", page, names[page],
                    t[50], t.back());
    }
    w.core().selectPage(Page::CommandStatus);

    for (int id : {cmd::POLL_20, cmd::POLL_100}) {
        w.command(id);
        spin(300);
        const long from = static_cast<long>(clock.elapsed()); // sim and bench started together (+- a few ms)
        spin(seconds * 1000);
        const auto d = pollIntervals(log, from + 50);
        report(id == cmd::POLL_20 ? "POLL at 20 ms as the validator sees it"
                                  : "POLL at 100 ms as the validator sees it",
               d);
    }
    w.close();
    return 0;
}
