// SPDX-License-Identifier: GPL-3.0-or-later
// Each window, offscreen on a 1280×1024 screen, at the size it opens at and at 1024×768: every
// column header, caption, tab and chart text fits where it is drawn, every column and control is
// in sight, and every chart's series is named. The 1024×768 renders are kept in the build's
// Testing/renders folder for a person to look at.

#include "GuiTestApp.h"

#include "../history/HistoryFixture.h"
#include "support/FakeDeviceTree.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/HelpWindow.h"
#include "ui/qt/HistoryWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/TrendChart.h"
#include "ui/qt/WindowPlacement.h"

#include <QAbstractItemView>
#include <QChart>
#include <QDir>
#include <QGraphicsSimpleTextItem>
#include <QGraphicsTextItem>
#include <QHeaderView>
#include <QLegend>
#include <QLegendMarker>
#include <QPlainTextEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleOptionHeader>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace norvex::test {
namespace {

using history::testing::knownReading;
using history::testing::ScratchFolder;

// The technician's screen: the windows open at their sizes for it.
void useLargeScreen() {
    static const bool done = [] {
        // Offscreen, whether asked for or not; a display chosen by name is left as it is.
        const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
        if (!platform.isEmpty() && platform != "offscreen") return true;
        const QString file = QDir::tempPath() + QStringLiteral("/norvex-screen-%1.json").arg(::getpid());
        writeFile(file.toStdString(), R"({"screens": [{"name": "screen", "x": 0, "y": 0, "width": 1280,
            "height": 1024, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})");
        qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + file).toUtf8());
        return true;
    }();
    (void)done;
    guiApp();
}

// Everything the windows show: a history of three units (one visited for two years, with a
// repair's two visits minutes apart; one visited twice on one day), a bus log with every kind of
// exchange, three adapters.
struct Scene {
    ScratchFolder dir;
    history::History history{"sqlite:" + dir.path() + "/h.sqlite", dir.path() + "/outbox.sqlite"};
    FakeTree tree;
    link::PortMap ports;
    QTemporaryDir settings;
    std::unique_ptr<qt::MainWindow> main;
    std::string before, after; // the repair's visits

    Scene() {
        const std::int64_t start = 1'767'225'600; // 2026-01-01
        for (int i = 0; i < 30; ++i) {
            const history::Reading r = knownReading("TVK202604171", start + i * 86400 * 24, i % 9);
            EXPECT_EQ(history.store(r).outcome, history::StoreOutcome::Stored);
            if (i == 29) before = r.id;
        }
        const history::Reading repaired = knownReading("TVK202604171", start + 29 * 86400 * 24 + 360, 1);
        after = repaired.id;
        EXPECT_EQ(history.store(repaired).outcome, history::StoreOutcome::Stored);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(history.store(knownReading("TVK8", start + 3600 + i * 420, 3 + i)).outcome,
                      history::StoreOutcome::Stored);
        EXPECT_EQ(history.store(knownReading("A1", start, 0, history::PART_SENSORS)).outcome,
                  history::StoreOutcome::Stored);

        tree.addUsbSerial("ttyUSB0", "1-1", "ftdi_sio", FTDI, FTDI_ID);
        tree.addUsbSerial("ttyUSB1", "1-2", "ch341", CH340);
        tree.addAcm("ttyACM0", "1-3", ACM, ACM_ID);

        qt::MainWindowSetup setup;
        setup.settingsDirectory = settings.path().toStdString();
        setup.history = &history;
        setup.deviceRoot = tree.root();
        setup.portsFile = settings.path().toStdString() + "/ports.conf";
        main = std::make_unique<qt::MainWindow>(ports, setup);
        main->show();
        fillBusLog();
        settle();
    }

    void fillBusLog() {
        std::int64_t clock = 1'000'000;
        auto add = [&](std::vector<std::uint8_t> frame, std::vector<std::uint8_t> answer,
                       link::ExchangeEnd end, bool repeat = false) {
            link::ExchangeRecord r;
            r.sentUs = clock;
            r.wallUs = 1'765'000'000'000'000 + clock;
            r.frameLength = static_cast<std::uint8_t>(frame.size());
            std::copy(frame.begin(), frame.end(), r.frame.begin());
            std::copy(answer.begin(), answer.end(), r.answer.begin());
            r.received = static_cast<std::uint32_t>(answer.size());
            if (!answer.empty()) {
                r.firstUs = clock + 1500;
                r.lastUs = r.firstUs + 1146 * static_cast<std::int64_t>(answer.size() - 1);
            }
            if (end == link::ExchangeEnd::AckSent) r.ackUs = r.lastUs + 250;
            r.end = end;
            r.repeat = repeat;
            main->core().busLog().add(r);
            clock += 100'000;
        };
        auto withSum = [](std::vector<std::uint8_t> b) {
            unsigned s = 0;
            for (auto x : b)
                s += x;
            b.push_back(static_cast<std::uint8_t>(s));
            return b;
        };
        using E = link::ExchangeEnd;
        std::vector<std::uint8_t> setupAnswer = {0x01, 0x19, 0x78, 0x00, 0x32, 0x02, 0x01, 0x90,
                                                 0xFF, 0xFF, 0xFF, 10,   20,   0,    100};
        setupAnswer.resize(27, 0);
        add({0x30, 0x30}, {0x00}, E::BareAck);
        add({0x31, 0x31}, withSum(setupAnswer), E::AckSent);
        add({0x37, 0x00, 0x37}, withSum(std::vector<std::uint8_t>(29, 0x41)), E::AckSent);
        add({0x34, 0xFF, 0xFF, 0x00, 0x00, 0x32}, {0x00}, E::BareAck);
        for (int i = 0; i < 40; ++i)
            add({0x33, 0x33}, {0x00}, E::BareAck);
        add({0x33, 0x33}, {0x90, 0x90}, E::AckSent);
        add({0x35, 0x01, 0x36}, {0x00}, E::BareAck);
        add({0x33, 0x33}, {0x80, 0x09, 0x89}, E::AckSent, true);
        add({0x36, 0x36}, {0x00, 0x12, 0x12}, E::AckSent);
        add({0x37, 0xFF, 'V', 'N', 'T', 0x00, 0xDD, 0x42}, withSum(std::vector<std::uint8_t>(72, 0x07)),
            E::AckSent);
        add({0x33, 0x33}, {0xFF}, E::Nak);
        add({0x33, 0x33}, {}, E::Silence);
        add({0x33, 0x33}, {0x0B, 0x0B, 0x0B, 0x0B}, E::Purged);
        add({}, {0x12, 0x34}, E::Stray);
    }
};

// What in `window` does not fit: a caption, a column header or a tab text cut short, a column or
// control out of sight, a chart text cut short, overlapping another or off its chart, a series
// without a name.
std::vector<std::string> misfits(QWidget* window) {
    std::vector<std::string> out;
    const QString where = window->objectName() + QStringLiteral(": ");
    auto say = [&](const QString& what) { out.push_back((where + what).toStdString()); };
    auto insideScrolledArea = [window](const QWidget* w) {
        for (const QWidget* p = w->parentWidget(); p && p != window; p = p->parentWidget())
            if (auto* area = qobject_cast<const QAbstractScrollArea*>(p->parentWidget());
                area && area->viewport() == p)
                return true;
        return false;
    };
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(window) || w->isWindow()) continue;
        const auto* label = qobject_cast<QLabel*>(w);
        if (!(label && label->wordWrap())) {
            if (const std::string overflow = captionOverflow(w); !overflow.empty())
                say(QString::fromStdString(overflow));
        }
        const QRect r(w->mapTo(window, QPoint(0, 0)), w->size());
        if (!insideScrolledArea(w) && !window->rect().adjusted(-1, -1, 1, 1).contains(r) &&
            !qobject_cast<QScrollBar*>(w))
            say(QStringLiteral("%1 %2 runs off the window")
                    .arg(QString::fromUtf8(w->metaObject()->className()), w->objectName()));

        if (auto* view = qobject_cast<QAbstractItemView*>(w)) {
            QHeaderView* header = nullptr;
            if (auto* table = qobject_cast<QTableView*>(w)) header = table->horizontalHeader();
            if (auto* tree = qobject_cast<QTreeView*>(w)) header = tree->header();
            if (!header || header->isHidden() || !view->model()) continue;
            const QFontMetrics fm(header->font());
            const int margin = 2 * header->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
            for (int i = 0; i < header->count(); ++i) {
                if (header->isSectionHidden(i)) continue;
                const QString title = view->model()->headerData(i, Qt::Horizontal).toString();
                const int needed = fm.horizontalAdvance(title) + margin;
                if (header->sectionSize(i) < needed)
                    say(QStringLiteral("column \"%1\" is %2 px, its title needs %3")
                            .arg(title)
                            .arg(header->sectionSize(i))
                            .arg(needed));
                if (header->sectionViewportPosition(i) + header->sectionSize(i) >
                    view->viewport()->width() + 1)
                    say(QStringLiteral("column \"%1\" is beyond the right edge").arg(title));
            }
        }
        if (auto* bar = qobject_cast<QTabBar*>(w)) {
            const QFontMetrics fm(bar->font());
            for (int i = 0; i < bar->count(); ++i) {
                QString text = bar->tabText(i);
                text.remove(QLatin1Char('&'));
                if (bar->tabRect(i).right() > bar->width() ||
                    bar->tabRect(i).width() < fm.horizontalAdvance(text) + 8)
                    say(QStringLiteral("tab \"%1\" does not fit").arg(text));
            }
        }
        if (auto* chartView = qobject_cast<QChartView*>(w)) {
            QChart* chart = chartView->chart();
            const QRectF room = chart->geometry().adjusted(-1, -1, 1, 1);
            std::vector<std::pair<QString, QRectF>> texts;
            for (QGraphicsItem* item : chart->scene()->items()) {
                if (!item->isVisible()) continue;
                QString text;
                if (auto* t = dynamic_cast<QGraphicsTextItem*>(item)) text = t->toPlainText();
                if (auto* t = dynamic_cast<QGraphicsSimpleTextItem*>(item)) text = t->text();
                if (text.isEmpty()) continue;
                const QRectF box = item->sceneBoundingRect();
                if (text.contains(QStringLiteral("...")) || text.contains(QChar(0x2026)))
                    say(QStringLiteral("chart \"%1\": \"%2\" is cut short").arg(chart->title(), text));
                if (!room.contains(box))
                    say(QStringLiteral("chart \"%1\": \"%2\" runs off the chart").arg(chart->title(), text));
                for (const auto& [other, otherBox] : texts)
                    if (box.adjusted(1, 1, -1, -1).intersects(otherBox.adjusted(1, 1, -1, -1)))
                        say(QStringLiteral("chart \"%1\": \"%2\" overlaps \"%3\"")
                                .arg(chart->title(), text, other));
                texts.emplace_back(text, box);
            }
            for (QLegendMarker* m : chart->legend()->markers())
                if (m->isVisible() && m->label().isEmpty())
                    say(QStringLiteral("chart \"%1\": a series without a name").arg(chart->title()));
        }
    }
    return out;
}

struct WindowCase {
    const char* name;
    std::function<QWidget*(Scene&)> open; // the window, shown at the size it opens at
};

qt::HistoryWindow* history(Scene& s, int tab) {
    s.main->showHistory();
    qt::HistoryWindow* w = s.main->historyWindow();
    w->selectUnit("TVK202604171");
    w->tabs()->setCurrentIndex(tab);
    return w;
}

const WindowCase CASES[] = {
    {"main-window", [](Scene& s) -> QWidget* { return s.main.get(); }},
    {"bus-monitor", [](Scene& s) -> QWidget* { return s.main->showBusMonitor(); }},
    {"history-visits", [](Scene& s) -> QWidget* { return history(s, 0); }},
    {"history-trends", [](Scene& s) -> QWidget* { return history(s, 1); }},
    {"history-trends-one-day",
     [](Scene& s) -> QWidget* {
         qt::HistoryWindow* w = history(s, 1);
         w->selectUnit("TVK8");
         return w;
     }},
    {"history-trends-sensors-only",
     [](Scene& s) -> QWidget* {
         qt::HistoryWindow* w = history(s, 1);
         w->selectUnit("A1");
         return w;
     }},
    {"history-report", [](Scene& s) -> QWidget* { return history(s, 2); }},
    {"history-compare",
     [](Scene& s) -> QWidget* {
         qt::HistoryWindow* w = history(s, 0);
         w->compare(s.before, s.after);
         return w;
     }},
    {"history-no-unit-chosen",
     [](Scene& s) -> QWidget* {
         s.main->showHistory();
         return s.main->historyWindow();
     }},
    {"ports-dialog",
     [](Scene& s) -> QWidget* {
         s.main->showPorts();
         return s.main->portsDialog();
     }},
    {"help-monitor",
     [](Scene& s) -> QWidget* {
         s.main->showHelp(QStringLiteral("monitor.html"));
         return s.main->helpWindow();
     }},
};

class WindowFit : public ::testing::TestWithParam<WindowCase> {};

TEST_P(WindowFit, EveryHeaderCaptionAndChartTextFitsAtTheOpeningSizeAndAt1024x768) {
    useLargeScreen();
    Scene scene;
    QWidget* window = GetParam().open(scene);
    ASSERT_NE(window, nullptr);
    window->show();
    settle();
    const QRect screen = window->screen()->availableGeometry();
    EXPECT_LE(window->frameGeometry().width(), screen.width());
    EXPECT_LE(window->frameGeometry().height(), screen.height());
    for (const std::string& m : misfits(window))
        ADD_FAILURE() << "at " << window->width() << "x" << window->height() << ": " << m;
    const QString folder = QStringLiteral(NORVEX_RENDER_DIR);
    QDir().mkpath(folder);
    window->grab().save(folder + QStringLiteral("/%1-opening.png").arg(QString::fromUtf8(GetParam().name)));

    // A fixed-size window stays as it is; the others take a 1024×768 screen's room, and can be
    // made small enough for an 800×600 one.
    if (window->minimumSize() != window->maximumSize()) {
        EXPECT_LE(window->minimumSizeHint().width(), 800 - qt::FRAME_ALLOWANCE_X);
        EXPECT_LE(window->minimumSizeHint().height(), 600 - qt::FRAME_ALLOWANCE_Y);
        window->resize(1024, 768);
    }
    settle();
    EXPECT_LE(window->width(), 1024);
    EXPECT_LE(window->height(), 768);
    for (const std::string& m : misfits(window))
        ADD_FAILURE() << "at 1024x768: " << m;
    window->grab().save(folder + QStringLiteral("/%1-1024x768.png").arg(QString::fromUtf8(GetParam().name)));
    if (auto* h = qobject_cast<qt::HistoryWindow*>(window); h && h->tabs()->currentIndex() == 1)
        h->chartGrid()->grab().save(
            folder + QStringLiteral("/%1-all-charts-1024x768.png").arg(QString::fromUtf8(GetParam().name)));
}

TEST(WindowPlacement, AWindowOpensWholeOnTheScreenCentredOnItsOwnerWhereThatLeavesItWhole) {
    const QRect screen(0, 0, 1280, 1024);
    const struct {
        QSize preferred;
        QRect owner;
    } cases[] = {
        {{1240, 640}, QRect(360, 319, 561, 444)},  // the monitor over the main window
        {{1240, 640}, QRect(700, 800, 561, 444)},  // an owner low on the screen
        {{1200, 780}, QRect(-200, -50, 561, 444)}, // an owner partly off it
        {{1600, 1200}, QRect(0, 0, 561, 444)},     // more than the screen has
    };
    for (const auto& c : cases) {
        const QRect placed = qt::placedWithin(qt::sizeWithin(c.preferred, screen), c.owner, screen);
        EXPECT_GE(placed.left(), screen.left());
        EXPECT_GE(placed.top(), screen.top());
        EXPECT_LE(placed.left() + placed.width() + qt::FRAME_ALLOWANCE_X, screen.width());
        EXPECT_LE(placed.top() + placed.height() + qt::FRAME_ALLOWANCE_Y, screen.height());
    }
    // Where the screen has room, centred on the owner.
    const QRect owner(360, 319, 561, 444);
    EXPECT_NEAR(qt::placedWithin({600, 400}, owner, screen).center().x(), owner.center().x(), 1);
}

INSTANTIATE_TEST_SUITE_P(Windows, WindowFit, ::testing::ValuesIn(CASES), [](const auto& info) {
    std::string name = info.param.name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

} // namespace
} // namespace norvex::test
