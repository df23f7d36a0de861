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

#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <fstream>

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

    ASSERT_TRUE(window.compare(h.readings[0].id, h.readings[2].id));
    bool rateShown = false;
    int hiddenUnchanged = 0;
    for (int i = 0; i < window.differences()->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = window.differences()->topLevelItem(i);
        if (row->text(0) == "event_02") {
            rateShown = true;
            EXPECT_EQ(row->text(1), "2");
            EXPECT_EQ(row->text(2), "8");
            EXPECT_EQ(row->text(3), "+6");
            EXPECT_FALSE(row->isHidden());
        }
        if (row->isHidden()) ++hiddenUnchanged;
    }
    EXPECT_TRUE(rateShown);
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
    EXPECT_EQ(menus, (QStringList{"Log File", "Commands", "Exp.Commands", "Poll_Timer", "Download", "History",
                                  "&Bus", "Help"}));
    auto* open = window.findChild<QAction*>("serviceHistoryAction");
    ASSERT_TRUE(open);
    open->trigger();
    ASSERT_TRUE(window.historyWindow());
    EXPECT_TRUE(window.historyWindow()->isVisible());
    EXPECT_EQ(window.historyWindow()->units()->topLevelItemCount(), 2);
    window.close();
}

} // namespace
