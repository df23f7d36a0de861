// SPDX-License-Identifier: GPL-3.0-or-later
// Renders the pictures of the README, the AppStream metadata and the help offscreen, from the
// same data every time: the main window after START on the virtual validator with a few bills
// and a coupon, the bus monitor of that session, the service history's trends over six visits of
// one unit, and the ports dialog over a device tree with two adapters. A picture that comes out
// blank fails the run.
//
//   norvex_screenshots [FOLDER]      render into FOLDER (default: a scratch folder, removed)
//   norvex_screenshots --docs SOURCE check that SOURCE's README.md, AppStream file and help show
//                                    every picture, and that the committed ones are not blank

#include "../history/HistoryFixture.h"
#include "control/ControlIds.h"
#include "support/FakeDeviceTree.h"
#include "support/SimProcess.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/Application.h"
#include "ui/qt/BusMonitorWindow.h"
#include "ui/qt/HistoryWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/PortsDialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QSet>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace norvex;

// The pictures, by file name, as the documents name them.
const char* const MAIN_WINDOW = "main-window.png";
const char* const BUS_MONITOR = "bus-monitor.png";
const char* const HISTORY_TRENDS = "history-trends.png";
const char* const PORTS_DIALOG = "ports-dialog.png";
const std::vector<const char*> PICTURES{MAIN_WINDOW, BUS_MONITOR, HISTORY_TRENDS, PORTS_DIALOG};

// Empty when the picture shows something: a window of a sensible size with text and lines on
// it, which take many shades once smoothed; else what is wrong with it.
QString blankness(const QImage& picture) {
    if (picture.isNull()) return QStringLiteral("missing or unreadable");
    // Whatever the file's pixel format (a PNG may be grey or indexed), counted as 32-bit colours.
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    if (image.width() < 300 || image.height() < 200)
        return QStringLiteral("only %1 x %2 pixels").arg(image.width()).arg(image.height());
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        const QRgb* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            colours.insert(line[x]);
    }
    if (colours.size() < 24) return QStringLiteral("blank: %1 colours").arg(colours.size());
    return {};
}

// The blank check finds a blank picture in each pixel format a PNG file may come back in.
bool blanknessFindsBlankPictures() {
    QImage grey(800, 600, QImage::Format_Grayscale8);
    grey.fill(0xEE);
    QImage rgb(800, 600, QImage::Format_RGB32);
    rgb.fill(QColor(0xEE, 0xEE, 0xEE));
    for (const QImage& blank : {grey, grey.convertToFormat(QImage::Format_Indexed8), rgb, QImage()})
        if (blankness(blank).isEmpty()) {
            std::fprintf(stderr, "the blank check takes a blank picture (format %d) for a window\n",
                         static_cast<int>(blank.format()));
            return false;
        }
    return true;
}

bool save(QWidget* w, const QString& folder, const char* name) {
    QCoreApplication::processEvents();
    const QImage image = w->grab().toImage().convertToFormat(QImage::Format_RGB32); // no alpha
    const QString path = folder + "/" + name;
    const QString why = blankness(image);
    if (!why.isEmpty() || !image.save(path, "PNG", 0)) { // 0: the smallest file
        std::fprintf(stderr, "%s: %s\n", name, why.isEmpty() ? "cannot be written" : qPrintable(why));
        return false;
    }
    std::printf("%s (%d x %d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

// The main window after START on the virtual validator, then its bus monitor.
bool mainWindowAndMonitor(const QString& folder) {
    QTemporaryDir scratch;
    const std::string simLog = scratch.path().toStdString() + "/sim.jsonl";
    test::SimProcess sim({}, simLog);
    if (!sim.running()) {
        std::fputs("the virtual validator did not start\n", stderr);
        return false;
    }
    link::PortMap ports;
    std::string error;
    if (!ports.parseOverride("COM1=" + sim.path(), error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    history::History history("sqlite:" + scratch.path().toStdString() + "/history.sqlite",
                             scratch.path().toStdString() + "/outbox.sqlite");
    qt::MainWindowSetup setup;
    setup.settingsDirectory = scratch.path().toStdString();
    setup.history = &history;
    qt::MainWindow window(ports, setup);
    window.setMessageHook(
        [](const std::string&, const std::string&, MsgButtons, MsgIcon) { return MsgResult::Ok; });
    window.show();
    static_cast<QPushButton*>(window.control(ids::START))->click();
    // The start-up sequence: RESET, SETUP, identification, then every bill type enabled; the bills
    // come once the validator has taken the enabling frame (34), so that it stacks them.
    if (!QTest::qWaitFor([&] { return !test::logLines(simLog, {"\"34 "}).empty(); }, 15000)) {
        std::fputs("the start-up sequence did not end\n", stderr);
        return false;
    }
    // Bills the validator stacks at once, and a coupon it rejects.
    for (const char* line : {"insert 1 noescrow", "insert 3 noescrow", "coupon", "insert 0 noescrow"}) {
        sim.command(line);
        QTest::qWait(600);
    }
    QTest::qWait(400);
    // The picture shows what it is said to: each bill stacked (80|T), the coupon rejected (0B), and
    // no bill refused as disabled (C0|T), which a bill inserted before the enabling frame would be.
    for (const char* answer : {"81 81", "83 83", "0B 0B", "80 80"})
        if (test::logLines(simLog, {"\"tx\"", std::string("\"bytes\":\"") + answer}).empty()) {
            std::fprintf(stderr, "the validator never answered %s\n", answer);
            return false;
        }
    if (!test::logLines(simLog, {"\"tx\"", "\"bytes\":\"C"}).empty()) {
        std::fputs("the validator refused a bill as disabled\n", stderr);
        return false;
    }
    bool ok = save(&window, folder, MAIN_WINDOW);

    qt::BusMonitorWindow* monitor = window.showBusMonitor();
    monitor->refresh();
    monitor->setFollow(false);
    monitor->setFilter({true, -1, false}); // the start-up and the events, not the idle POLLs
    monitor->table()->scrollToTop();
    ok = save(monitor, folder, BUS_MONITOR) && ok;
    return ok;
}

// Six visits of one unit, a month apart, with the acceptance rate falling and rising again.
bool historyTrends(const QString& folder) {
    // The default history of a home of our own: the window names it as a technician sees it.
    QDir().mkpath(QDir::homePath() + "/.local/share/norvex");
    history::History history("sqlite:~/.local/share/norvex/history.sqlite");
    const int seeds[] = {2, 5, 9, 14, 4, 3};
    for (int i = 0; i < 6; ++i) {
        const auto reading = history::testing::knownReading("TVK7", 1'780'000'000 + i * 86400 * 30, seeds[i]);
        if (history.store(reading).outcome != history::StoreOutcome::Stored) {
            std::fputs("the history did not keep a reading\n", stderr);
            return false;
        }
    }
    history.store(history::testing::knownReading("TVK8", 1'790'000'000, 1));
    qt::HistoryWindow window(history);
    window.show();
    if (!window.selectUnit("TVK7")) return false;
    // The tab's text carries its mnemonic ("&Trends"); a picture without the charts is no picture
    // of the trends, so a tab not found fails the run.
    int trends = -1;
    for (int i = 0; i < window.tabs()->count(); ++i)
        if (QString(window.tabs()->tabText(i)).remove(QLatin1Char('&')) == QStringLiteral("Trends"))
            trends = i;
    if (trends < 0) {
        std::fputs("the history window has no Trends tab\n", stderr);
        return false;
    }
    window.tabs()->setCurrentIndex(trends);
    return save(&window, folder, HISTORY_TRENDS);
}

// The ports dialog over two adapters: an FTDI converter (COM 1's default device) and an ACM one.
bool portsDialog(const QString& folder) {
    test::FakeTree tree;
    tree.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", test::FTDI, test::FTDI_ID);
    tree.addAcm("ttyACM0", "1-3", test::ACM, test::ACM_ID);
    link::PortMap ports;
    qt::PortsDialog dialog(nullptr, ports, {}, tree.root(), [] {});
    dialog.show();
    return save(&dialog, folder, PORTS_DIALOG);
}

// Every picture is shown by the README, the AppStream file and the help, and each committed one
// is there and not blank.
int checkDocuments(const QString& source) {
    int faults = 0;
    const QString documents[] = {"README.md", "packaging/org.norvex.Norvex.metainfo.xml",
                                 "resources/help/index.html"};
    for (const QString& document : documents) {
        QFile file(source + "/" + document);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "%s cannot be read\n", qPrintable(document));
            ++faults;
            continue;
        }
        const QString text = QString::fromUtf8(file.readAll());
        for (const char* name : PICTURES)
            if (!text.contains(QStringLiteral("screenshots/") + name)) {
                std::fprintf(stderr, "%s does not show screenshots/%s\n", qPrintable(document), name);
                ++faults;
            }
    }
    for (const char* name : PICTURES) {
        const QString why = blankness(QImage(source + "/resources/screenshots/" + name));
        if (!why.isEmpty()) {
            std::fprintf(stderr, "resources/screenshots/%s: %s\n", name, qPrintable(why));
            ++faults;
        }
    }
    if (faults == 0) std::puts("the documents show every picture");
    return faults == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    // The same rendering on every machine: offscreen, our font, times in UTC.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("TZ", "UTC");
    // A home of our own: nothing of the user's is read or written, and paths read the same.
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    QApplication app(argc, argv);
    qt::Application::applyLook();

    if (!blanknessFindsBlankPictures()) return 1;
    const QStringList args = app.arguments().mid(1);
    if (args.size() == 2 && args[0] == QStringLiteral("--docs")) return checkDocuments(args[1]);
    if (args.size() > 1 || (args.size() == 1 && args[0].startsWith('-'))) {
        std::fputs("usage: norvex_screenshots [FOLDER] | --docs SOURCE\n", stderr);
        return 2;
    }
    QTemporaryDir scratch;
    const QString folder = args.isEmpty() ? scratch.path() : args[0];
    if (!QDir().mkpath(folder)) {
        std::fprintf(stderr, "%s cannot be made\n", qPrintable(folder));
        return 1;
    }
    bool ok = mainWindowAndMonitor(folder);
    ok = historyTrends(folder) && ok;
    ok = portsDialog(folder) && ok;
    return ok ? 0 : 1;
}
