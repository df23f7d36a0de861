// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor's paint time, offscreen: the table with 100 000 rows (50 000 exchanges) while
// 50 exchanges a second arrive, each paint after the new rows came in and the view followed
// them; beside it, in the same run, the floor: the same window with 100 rows. Then a filter
// change on those 100 000 rows with every row selected (the selection is carried over), beside
// the same change with nothing selected.
//
// Usage: monitor_bench [seconds, default 10]

#include "support/RecordingView.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/Application.h"
#include "ui/qt/BusMonitorWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace norvex;

namespace {

link::ExchangeRecord exchange(std::int64_t t, int i) {
    link::ExchangeRecord r;
    r.sentUs = t;
    r.wallUs = 1765000000000000 + t;
    r.frameLength = 2;
    r.frame[0] = r.frame[1] = 0x33;
    const bool bill = i % 7 == 0;
    r.received = bill ? 2 : 1;
    r.answer[0] = bill ? 0x81 : 0x00;
    r.answer[1] = 0x81;
    r.firstUs = t + 1200;
    r.lastUs = t + (bill ? 2346 : 1200);
    r.ackUs = bill ? t + 2600 : -1;
    r.end = bill ? link::ExchangeEnd::AckSent : link::ExchangeEnd::BareAck;
    return r;
}

struct Result {
    double median, p99, max;
    int rows;
    double refreshMedian; // of which taking the rows and following them
};

// Paints the table `paints` times, adding `perPaint` exchanges before each and pausing
// `pauseMs` between paints (the arrival rate); milliseconds per paint.
Result run(ui::MainWindowLogic& core, int exchanges, int paints, int pauseMs, std::int64_t& clock) {
    for (int i = 0; i < exchanges; ++i, clock += 20000)
        core.busLog().add(exchange(clock, i));
    qt::BusMonitorWindow window(core);
    window.resize(1100, 560);
    window.show();
    QApplication::processEvents();
    std::vector<double> ms, refreshMs;
    QElapsedTimer pace;
    pace.start();
    for (int p = 0; p < paints; ++p) {
        core.busLog().add(exchange(clock, p));
        clock += 20000;
        QElapsedTimer t;
        t.start();
        window.refresh();
        const qint64 taken = t.nsecsElapsed();
        window.table()->viewport()->repaint();
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        refreshMs.push_back(static_cast<double>(taken) / 1e6);
        // The next exchange comes 20 ms after this one.
        while (pace.elapsed() < static_cast<qint64>(p + 1) * pauseMs)
            QApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    std::sort(ms.begin(), ms.end());
    std::sort(refreshMs.begin(), refreshMs.end());
    return {ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back(), window.model().rowCount(),
            refreshMs[refreshMs.size() / 2]};
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    int qtArgc = 1;
    char name[] = "monitor_bench";
    char* qtArgv[] = {name, nullptr};
    QApplication app(qtArgc, qtArgv);
    qt::Application::applyLook();
    test::RecordingView view;
    link::PortMap ports;
    std::int64_t clock = 1000000;
    const int paints = seconds * 50;

    ui::MainWindowLogic few(view, ports), many(view, ports);
    const Result floor = run(few, 50, paints / 4, 20, clock);
    const Result full = run(many, 50000, paints, 20, clock);
    std::printf("Bus monitor paint (new rows taken, view following, viewport painted), 50 exchanges/s:\n");
    for (const auto& [label, r] : {std::pair<const char*, const Result&>{"floor:", floor}, {"table:", full}})
        std::printf(
            "  %s %6d rows   median %.3f ms  p99 %.3f ms  max %.3f ms  (taking the rows: median %.3f ms)\n",
            label, r.rows, r.median, r.p99, r.max, r.refreshMedian);
    std::printf("  aim: median under 2 ms: %s\n", full.median < 2.0 ? "met" : "NOT met");

    // A filter change, and back, on the full table.
    qt::BusMonitorWindow window(many);
    window.resize(1100, 560);
    window.show();
    QApplication::processEvents();
    auto filterMs = [&](bool selectAll) {
        std::vector<double> ms;
        for (int i = 0; i < 6; ++i) {
            if (selectAll)
                window.table()->selectAll();
            else
                window.table()->clearSelection();
            QElapsedTimer t;
            t.start();
            window.setFilter({i % 2 == 0, -1, false});
            QApplication::processEvents();
            ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        }
        std::sort(ms.begin(), ms.end());
        return ms[ms.size() / 2];
    };
    const double bare = filterMs(false), carried = filterMs(true);
    std::printf("Filter change on %d rows: nothing selected (floor) median %.1f ms; every row selected, "
                "carried over median %.1f ms\n",
                window.model().rowCount(), bare, carried);
    return 0;
}
