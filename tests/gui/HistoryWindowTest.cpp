// SPDX-License-Identifier: GPL-3.0-or-later
// The service history window over a history of three visits: the unit list, the visits, the
// report made again, two visits compared, the charts, the CSV export; and the main window's
// History menu beside the described menus.

#include "GuiTestApp.h"

#include "../history/HistoryFixture.h"
#include "diagnostics/StatisticsData.h"
#include "history/Trends.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/HistoryWindow.h"
#include "ui/qt/MainWindow.h"
#include "ui/qt/TrendChart.h"

#include <QHeaderView>
#include <QLegend>
#include <QLegendMarker>
#include <QLineSeries>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScatterSeries>
#include <QScrollBar>
#include <QSplitter>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <cstdio>

#include <fstream>
#include <map>
#include <set>

using namespace norvex;
using namespace norvex::history::testing;

namespace {

struct ThreeVisits {
    ScratchFolder dir;
    history::History history{"sqlite:" + dir.path() + "/h.sqlite", dir.path() + "/outbox.sqlite"};
    std::vector<history::Reading> readings;
    ThreeVisits() {
        for (int i = 0; i < 3; ++i) {
            readings.push_back(knownReading("TVK7", 1'790'000'000 + i * 86400 * 30, 2 + 3 * i));
            EXPECT_EQ(history.store(readings.back()).outcome, history::StoreOutcome::Stored);
        }
        EXPECT_EQ(history.store(knownReading("TVK8", 1'791'000'000, 1)).outcome,
                  history::StoreOutcome::Stored);
    }
};

TEST(HistoryWindow, TheMainWindowStoresAwayFromItsThreadAndSaysAtExitWhatStillWaits) {
    test::guiApp();
    ScratchFolder dir;
    // A history that cannot be reached: a file stands where its folder should be.
    { std::ofstream(dir.path() + "/away") << "not a folder"; }
    history::History away("sqlite:" + dir.path() + "/away/h.sqlite", dir.path() + "/state/outbox.sqlite");
    link::PortMap ports;
    QTemporaryDir settings;
    qt::MainWindow::Setup setup;
    setup.settingsDirectory = settings.path().toStdString();
    setup.history = &away;
    qt::MainWindow window(ports, setup);
    std::vector<std::string> said;
    window.setMessageHook([&](const std::string& text, const std::string& caption, MsgButtons, MsgIcon) {
        said.push_back(caption + ": " + text);
        return MsgResult::Ok;
    });
    const std::vector<std::uint8_t> stats(diagnostics::STATISTICS_DATA_BYTES, 1);
    window.core().readings().received(ui::ReadingCollector::Record::Statistics, stats.data(), stats.size());
    window.close(); // the records read since the last report are stored as the window closes
    ASSERT_EQ(said.size(), 3u);
    // No identification and no serial typed: kept all the same, and said.
    EXPECT_NE(
        said[0].find("History: The validator reported no serial number and none was typed: the reading is "
                     "kept under the unit \"unknown serial\"."),
        std::string::npos)
        << said[0];
    EXPECT_NE(said[1].find("History: The service history at sqlite:" + dir.path() +
                           "/away/h.sqlite cannot be "
                           "reached"),
              std::string::npos)
        << said[1];
    EXPECT_NE(said[2].find("History: 1 reading waits on this computer for the service history at"),
              std::string::npos)
        << said[2];
    EXPECT_EQ(away.waiting().here, 1u);
}

TEST(HistoryWindow, ShowsUnitsVisitsReportsComparisonsChartsAndExportsCsv) {
    test::guiApp();
    ThreeVisits h;
    qt::HistoryWindow window(h.history);

    ASSERT_EQ(window.units()->topLevelItemCount(), 2);
    const QTreeWidgetItem* unit = window.units()->topLevelItem(0);
    EXPECT_EQ(unit->text(0), "TVK7");
    EXPECT_EQ(unit->text(2), "3");
    EXPECT_EQ(unit->text(3).toStdString(), history::localTimeText(h.readings[2].localTime));
    EXPECT_EQ(unit->text(4), QString::fromStdString(history::valueText(100.0 * 108 / (108 + 8))) + " %");

    window.units()->setCurrentItem(window.units()->topLevelItem(0));
    EXPECT_EQ(window.selectedUnit(), "TVK7");
    ASSERT_EQ(window.visits()->topLevelItemCount(), 3);
    EXPECT_EQ(window.visits()->topLevelItem(0)->data(0, Qt::UserRole).toString().toStdString(),
              h.readings[2].id)
        << "newest first";
    EXPECT_EQ(window.chartCount(), 7);

    ASSERT_TRUE(window.showReport(h.readings[0].id));
    QString expected = QString::fromLatin1(history::recreateReport(h.readings[0]).c_str());
    expected.remove('\r');
    EXPECT_EQ(window.report()->toPlainText(), expected);

    // Compared in the pages' words: a change marked as one, better or worse where that is known.
    ASSERT_TRUE(window.compare(h.readings[0].id, h.readings[2].id));
    std::map<QString, const QTreeWidgetItem*> rows;
    int hiddenUnchanged = 0;
    for (int i = 0; i < window.differences()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = window.differences()->topLevelItem(i);
        rows[row->text(0)] = row;
        EXPECT_FALSE(row->text(0).contains('_')) << row->text(0).toStdString() << ": a caption, not a name";
        if (row->isHidden()) ++hiddenUnchanged;
    }
    const QTreeWidgetItem* event = rows["Event 2: Did Not Pass Optical Test"];
    ASSERT_TRUE(event);
    EXPECT_EQ(event->text(1), "2");
    EXPECT_EQ(event->text(2), "8");
    EXPECT_EQ(event->text(3), "+6");
    EXPECT_FALSE(event->isHidden());
    EXPECT_TRUE(event->font(3).bold());
    EXPECT_EQ(event->foreground(3).style(), Qt::NoBrush) << "more events counted is not known to be worse";
    const QTreeWidgetItem* rate = rows["Acceptance rate"];
    ASSERT_TRUE(rate);
    EXPECT_EQ(rate->text(1), "98.08 %");
    EXPECT_EQ(rate->text(2), "93.10 %");
    EXPECT_EQ(rate->text(3), "-4.97 %, worse");
    EXPECT_EQ(rate->foreground(3).color(), QColor(176, 0, 0));
    ASSERT_TRUE(rows["Sidelook gain (hex)"]);
    EXPECT_TRUE(QRegularExpression("^[0-9A-F]{4}$").match(rows["Sidelook gain (hex)"]->text(1)).hasMatch());
    ASSERT_TRUE(rows["Front right status"]);
    EXPECT_TRUE(rows["Front right status"]->text(1) == "open" ||
                rows["Front right status"]->text(1) == "closed");
    EXPECT_GT(hiddenUnchanged, 0) << "what did not change is left out";

    const std::string csvPath = h.dir.path() + "/TVK7.csv";
    ASSERT_TRUE(window.exportCsv(csvPath));
    std::ifstream in(csvPath, std::ios::binary);
    const std::string csv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<history::VisitSummary> visits;
    history::Fault fault;
    ASSERT_TRUE(h.history.store(fault)->unitHistory("TVK7", {}, visits, fault));
    EXPECT_EQ(csv, history::historyCsv("TVK7", visits));
}

TEST(HistoryWindow, AChartIsDrawnForAPersonToLookAt) {
    test::guiApp();
    ThreeVisits h;
    std::vector<history::VisitSummary> visits;
    history::Fault fault;
    ASSERT_TRUE(h.history.store(fault)->unitHistory("TVK7", history::trendValueNames(), visits, fault));
    const auto charts = history::trendCharts(visits);
    const QImage image = qt::renderTrendChart(charts.at(2), 640, 400); // sensor gains
    ASSERT_FALSE(image.isNull());
    // Something besides the background was drawn: the lines in their colours.
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            const QColor c = image.pixelColor(x, y);
            if (std::abs(c.red() - c.green()) > 60 || std::abs(c.blue() - c.green()) > 60) ++coloured;
        }
    EXPECT_GT(coloured, 100);
    image.save("history-chart-sensor-gains.png"); // in the tests' folder, for a person to look at
}

TEST(HistoryWindow, AReadingStoredWhileItIsOpenAppearsAndRefreshKeepsWhatWasChosen) {
    test::guiApp();
    ThreeVisits h;
    qt::HistoryWindow window(h.history);
    window.show();
    test::settle();
    ASSERT_TRUE(window.selectUnit("TVK7"));
    window.visits()->clearSelection();
    window.visits()->topLevelItem(1)->setSelected(true); // the second newest
    window.tabs()->setCurrentIndex(1);
    ASSERT_EQ(window.chartCount(), 7);
    const QWidget* chartBefore = window.chart(0);

    // A report written now, by this program or another computer sharing the history.
    const history::Reading later = knownReading("TVK7", 1'790'000'000 + 3 * 86400 * 30 + 360, 11);
    ASSERT_EQ(h.history.store(later).outcome, history::StoreOutcome::Stored);
    ASSERT_EQ(h.history.store(knownReading("TVK9", 1'795'000'000, 1)).outcome, history::StoreOutcome::Stored);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.visits()->topLevelItemCount() == 4; },
                                3 * qt::HistoryWindow::FOLLOW_MS));
    EXPECT_EQ(window.units()->topLevelItemCount(), 3);
    EXPECT_EQ(window.selectedUnit(), "TVK7");
    ASSERT_EQ(window.units()->selectedItems().size(), 1);
    EXPECT_EQ(window.units()->selectedItems().front()->text(0), "TVK7");
    EXPECT_EQ(window.units()->selectedItems().front()->text(2), "4");
    EXPECT_EQ(window.tabs()->currentIndex(), 1) << "the page shown stays";
    ASSERT_EQ(window.visits()->selectedItems().size(), 1);
    EXPECT_EQ(window.visits()->selectedItems().front()->data(0, Qt::UserRole).toString().toStdString(),
              h.readings[1].id)
        << "the visit chosen stays chosen";
    EXPECT_NE(window.chart(0), chartBefore) << "the charts are drawn again";
    auto* rate = qobject_cast<qt::TrendChartView*>(window.chart(0));
    ASSERT_TRUE(rate);
    EXPECT_EQ(rate->trend().visits.size(), 4u);
    EXPECT_FALSE(window.followHistory()) << "nothing new: nothing is read again";

    // Refresh keeps the same, and shows the unit's new charts.
    window.refresh();
    EXPECT_EQ(window.selectedUnit(), "TVK7");
    EXPECT_EQ(window.units()->selectedItems().size(), 1);
    EXPECT_EQ(window.tabs()->currentIndex(), 1);
    EXPECT_EQ(window.visits()->selectedItems().size(), 1);
}

TEST(HistoryWindow, ANewReadingLeavesTheSplitterAndTheListsWhereTheOperatorPutThem) {
    test::guiApp();
    ThreeVisits h;
    for (int u = 0; u < 60; ++u) {
        char serial[16]; // "U" + std::to_string() trips a false -Wrestrict of GCC 12 at -O3
        std::snprintf(serial, sizeof serial, "U%d", 100 + u);
        ASSERT_EQ(h.history.store(knownReading(serial, 1'790'000'000 + u, 1)).outcome,
                  history::StoreOutcome::Stored);
    }
    qt::HistoryWindow window(h.history);
    window.resize(700, 400);
    window.show();
    test::settle();
    // Made larger, the window widens the unit list until all its columns are in sight.
    auto lastColumnInSight = [&] {
        const QHeaderView* header = window.units()->header();
        const int last = header->count() - 1;
        return header->sectionViewportPosition(last) + header->sectionSize(last) <=
               window.units()->viewport()->width();
    };
    EXPECT_FALSE(lastColumnInSight()) << "700 pixels leave the list too narrow";
    window.resize(1200, 700);
    test::settle();
    EXPECT_TRUE(lastColumnInSight());

    // The operator drags the splitter to the left.
    QSplitterHandle* handle = window.splitter()->handle(1);
    const QPoint grip(handle->width() / 2, handle->height() / 2);
    QTest::mousePress(handle, Qt::LeftButton, {}, grip);
    QTest::mouseMove(handle, grip - QPoint(40, 0));
    QTest::mouseRelease(handle, Qt::LeftButton, {}, grip - QPoint(80, 0));
    const QList<int> sizes = window.splitter()->sizes();
    QScrollBar* bar = window.units()->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    const int scrolled = bar->value();
    ASSERT_GT(scrolled, 0);
    window.units()->setColumnWidth(1, 150);

    ASSERT_EQ(h.history.store(knownReading("U999", 1'795'000'000, 2)).outcome, history::StoreOutcome::Stored);
    ASSERT_TRUE(window.followHistory());
    EXPECT_EQ(window.units()->topLevelItemCount(), 63);
    EXPECT_EQ(window.splitter()->sizes(), sizes);
    EXPECT_EQ(bar->value(), scrolled);
    EXPECT_EQ(window.units()->columnWidth(1), 150);
}

TEST(HistoryWindow, AnEmptyHistoryAndAnUnchosenUnitAreExplainedAndAChosenVisitFillsTheReport) {
    test::guiApp();
    ScratchFolder dir;
    history::History empty{"sqlite:" + dir.path() + "/h.sqlite", dir.path() + "/outbox.sqlite"};
    qt::HistoryWindow window(empty);
    window.show();
    EXPECT_TRUE(window.hint().contains("No readings in this history yet")) << window.hint().toStdString();
    EXPECT_TRUE(window.hint().contains("when a diagnostics report is written"));
    EXPECT_EQ(window.status(), "No unit in this history yet");

    const history::Reading first = knownReading("TVK1", 1'790'000'000, 2);
    const history::Reading second = knownReading("TVK1", 1'790'000'600, 3);
    ASSERT_EQ(empty.store(first).outcome, history::StoreOutcome::Stored);
    ASSERT_EQ(empty.store(second).outcome, history::StoreOutcome::Stored);
    ASSERT_TRUE(window.followHistory());
    EXPECT_TRUE(window.hint().startsWith("Choose a unit on the left")) << window.hint().toStdString();
    EXPECT_EQ(window.status(), "1 unit in this history");

    // Choosing the unit chooses its newest visit, whose report is ready on its page. With the
    // keyboard: the list frames its only row, and the first arrow key chooses it.
    QApplication::setActiveWindow(&window);
    window.units()->setFocus();
    window.units()->setCurrentItem(window.units()->topLevelItem(0), 0, QItemSelectionModel::NoUpdate);
    EXPECT_EQ(window.selectedUnit(), "");
    QTest::keyClick(window.units(), Qt::Key_Down);
    EXPECT_EQ(window.selectedUnit(), "TVK1");
    EXPECT_EQ(window.hint(), QString());
    EXPECT_EQ(window.status(), "Unit TVK1: 2 visits");
    QString report = QString::fromLatin1(history::recreateReport(second).c_str());
    report.remove('\r');
    EXPECT_EQ(window.report()->toPlainText(), report);
    EXPECT_EQ(window.tabs()->currentIndex(), 0) << "filled, not brought to the front";
    // Another visit chosen: its report.
    window.visits()->clearSelection();
    window.visits()->topLevelItem(1)->setSelected(true);
    report = QString::fromLatin1(history::recreateReport(first).c_str());
    report.remove('\r');
    EXPECT_EQ(window.report()->toPlainText(), report);
}

TEST(HistoryWindow, EveryChartSeriesIsNamedAndEveryVisitHasItsOwnPoint) {
    test::guiApp();
    ScratchFolder dir;
    history::History repair{"sqlite:" + dir.path() + "/h.sqlite", dir.path() + "/outbox.sqlite"};
    // Before and after a repair, six minutes apart, a year after the first visit.
    std::vector<history::Reading> readings;
    for (std::int64_t at : {1'760'000'000LL, 1'791'536'000LL, 1'791'536'360LL}) {
        readings.push_back(knownReading("TVK5", at, static_cast<int>(readings.size()) + 1));
        ASSERT_EQ(repair.store(readings.back()).outcome, history::StoreOutcome::Stored);
    }
    qt::HistoryWindow window(repair);
    window.show();
    ASSERT_TRUE(window.selectUnit("TVK5"));
    window.tabs()->setCurrentIndex(1);
    test::settle();
    ASSERT_EQ(window.chartCount(), 7);
    for (int c = 0; c < window.chartCount(); ++c) {
        auto* view = qobject_cast<qt::TrendChartView*>(window.chart(c));
        ASSERT_TRUE(view);
        int lines = 0;
        for (QAbstractSeries* series : view->chart()->series()) {
            auto* line = qobject_cast<QLineSeries*>(series);
            if (!line || qobject_cast<QScatterSeries*>(series)) continue;
            ASSERT_LT(lines, static_cast<int>(view->trend().series.size()));
            EXPECT_EQ(line->name().toStdString(), view->trend().series[static_cast<std::size_t>(lines)].name);
            EXPECT_FALSE(line->name().isEmpty());
            for (QLegendMarker* m : view->chart()->legend()->markers(line))
                EXPECT_TRUE(m->isVisible() && m->label() == line->name());
            ++lines;
        }
        EXPECT_EQ(lines, static_cast<int>(view->trend().series.size())) << view->trend().title;
    }
    // Thirteen event series, each in a colour of its own.
    history::Chart events;
    events.title = "Rejections and faults (event counts)";
    events.visits = {"2026-12-08 08:43:36"};
    for (int e = 0; e < 13; ++e)
        events.series.push_back({std::to_string(e + 1) + " event", {0}, {static_cast<double>(e)}, {0}});
    qt::TrendChartView many(events);
    std::set<QRgb> colours;
    for (QAbstractSeries* series : many.chart()->series())
        if (auto* line = qobject_cast<QLineSeries*>(series)) colours.insert(line->color().rgb());
    EXPECT_EQ(colours.size(), 13u);

    // The visits minutes apart are two places on the axis, not one point.
    auto* rate = qobject_cast<qt::TrendChartView*>(window.chart(0));
    auto* line = qobject_cast<QLineSeries*>(rate->chart()->series().front());
    ASSERT_EQ(line->count(), 3);
    EXPECT_GE(line->at(2).x() - line->at(1).x(), 1.0);
    // Hovering over a point names its visit and value.
    EXPECT_EQ(rate->pointToolTip(0, 2).toStdString(),
              "Acceptance rate, visit of " + history::localTimeText(readings[2].localTime) + ": " +
                  history::valueText(100.0 * 103 / (103 + 3)) + " %");
}

TEST(HistoryWindow, TheMainWindowOpensItFromAMenuOfItsOwn) {
    test::guiApp();
    ThreeVisits h;
    link::PortMap ports;
    QTemporaryDir settings;
    qt::MainWindow::Setup setup;
    setup.settingsDirectory = settings.path().toStdString();
    setup.history = &h.history;
    qt::MainWindow window(ports, setup);
    QStringList menus;
    for (QAction* a : window.menuBar()->actions())
        menus << a->text();
    EXPECT_EQ(menus, (QStringList{"&Log File", "&Commands", "&Exp.Commands", "&Poll_Timer", "&Download",
                                  "Hi&story", "&Bus", "&Help"}));
    auto* open = window.findChild<QAction*>("serviceHistoryAction");
    ASSERT_TRUE(open);
    open->trigger();
    ASSERT_TRUE(window.historyWindow());
    EXPECT_TRUE(window.historyWindow()->isVisible());
    EXPECT_EQ(window.historyWindow()->units()->topLevelItemCount(), 2);
    window.close();
}

} // namespace
