// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor window, offscreen: reached from the menu bar, its rows, filters, copy, CSV,
// the capture and the command line.

#include "ui/qt/BusMonitorWindow.h"
#include "GuiTestApp.h"
#include "support/FakePort.h"
#include "support/PcapReader.h"
#include "support/TestPty.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/MainWindow.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace norvex::test {
namespace {

using link::ExchangeEnd;

class BusMonitorWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
        guiApp();
        ASSERT_TRUE(dir.isValid());
        window = std::make_unique<qt::MainWindow>(
            ports, qt::MainWindowSetup{dir.path().toStdString(), fakePortFactory(port)});
        window->setMessageHook([this](const std::string& text, const std::string&, MsgButtons, MsgIcon) {
            messages.push_back(text);
            return MsgResult::Ok;
        });
        window->show();
        settle();
    }
    void TearDown() override {
        window.reset();
        settle();
    }

    // POLL answered with `answer`, 100 ms after the one before.
    void poll(std::vector<std::uint8_t> answer, ExchangeEnd end) {
        link::ExchangeRecord r;
        r.sentUs = clock;
        r.wallUs = 1765000000000000 + clock;
        r.frameLength = 2;
        r.frame[0] = r.frame[1] = 0x33;
        std::copy(answer.begin(), answer.end(), r.answer.begin());
        r.received = static_cast<std::uint32_t>(answer.size());
        r.firstUs = clock + 1200;
        r.lastUs = r.firstUs + 1146 * static_cast<std::int64_t>(answer.size() - 1);
        if (end == ExchangeEnd::AckSent) r.ackUs = r.lastUs + 300;
        r.end = end;
        window->core().busLog().add(r);
        clock += 100000;
    }
    std::string path(const char* name) const { return dir.path().toStdString() + "/" + name; }

    QTemporaryDir dir;
    link::PortMap ports;
    std::shared_ptr<FakePortState> port = std::make_shared<FakePortState>();
    std::unique_ptr<qt::MainWindow> window;
    std::vector<std::string> messages;
    std::int64_t clock = 1000000;
};

} // namespace

TEST_F(BusMonitorWindowTest, OpensFromTheBusMenuAndShowsEveryFrameAndAnswer) {
    QAction* open = window->menuBar()->findChild<QAction*>(QStringLiteral("busMonitorAction"));
    ASSERT_NE(open, nullptr);
    for (int i = 0; i < 20; ++i)
        poll({0x00}, ExchangeEnd::BareAck);
    poll({0x81, 0x81}, ExchangeEnd::AckSent);
    poll({0xFF}, ExchangeEnd::Nak);
    open->trigger();
    settle();
    qt::BusMonitorWindow* monitor = window->busMonitor();
    ASSERT_NE(monitor, nullptr);
    EXPECT_TRUE(monitor->isVisible());
    EXPECT_EQ(monitor->model().rowCount(), 44);
    EXPECT_EQ(monitor->model().data(monitor->model().index(41, ui::COLUMN_BYTES), Qt::DisplayRole).toString(),
              QStringLiteral("81 81"));
    // The second trigger brings the same window to the front.
    open->trigger();
    EXPECT_EQ(window->busMonitor(), monitor);

    // Rows that arrive later come in at the bottom, and the view follows them.
    poll({0x03, 0x03}, ExchangeEnd::AckSent);
    monitor->refresh();
    EXPECT_EQ(monitor->model().rowCount(), 46);
    const int lastShown = monitor->table()->rowAt(monitor->table()->viewport()->height() - 2);
    EXPECT_TRUE(lastShown == -1 || lastShown >= 40) << lastShown;

    monitor->setFilter({true, -1, false});
    EXPECT_EQ(monitor->model().rowCount(), 6);
    monitor->setFilter({false, -1, true});
    EXPECT_EQ(monitor->model().rowCount(), 2);

    if (const char* png = std::getenv("NORVEX_MONITOR_PNG")) {
        monitor->setFilter({});
        monitor->resize(1100, 560);
        settle();
        monitor->grab().save(QString::fromLocal8Bit(png));
    }
}

TEST_F(BusMonitorWindowTest, FindCopyCsvAndCaptureWriteWhatIsShown) {
    poll({0x00}, ExchangeEnd::BareAck);
    poll({0x0B, 0x0B}, ExchangeEnd::AckSent);
    poll({0x00}, ExchangeEnd::BareAck);
    qt::BusMonitorWindow* monitor = window->showBusMonitor();
    monitor->setSavePathHook([this](const std::string& title) -> std::optional<std::string> {
        return title == "Export CSV" ? path("rows.csv") : path("bus.pcap");
    });

    ASSERT_TRUE(monitor->findNext(QStringLiteral("bill rejected")));
    EXPECT_FALSE(monitor->follows()) << "a found row stays in sight";
    EXPECT_EQ(monitor->table()->currentIndex().row(), 3);
    EXPECT_TRUE(monitor->copySelection().startsWith(QStringLiteral("2025-12-06")));
    EXPECT_TRUE(monitor->copySelection().contains(QStringLiteral("\t0B 0B\tbill rejected\t")));
    EXPECT_FALSE(monitor->findNext(QStringLiteral("jammed")));

    monitor->exportCsv();
    std::ifstream csv(path("rows.csv"), std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(csv)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, monitor->model().monitor().csvAll());
    EXPECT_TRUE(monitor->statusText().contains(QStringLiteral("6 rows written")))
        << monitor->statusText().toStdString();

    monitor->saveCapture();
    const PcapFile pcap = readPcap(path("bus.pcap"));
    ASSERT_TRUE(pcap.valid) << pcap.problem;
    EXPECT_EQ(pcap.packets.size(), 7u); // three frames, three answers, one ACK

    // The main window's menu item saves the same.
    window->setSaveFileHook([this](const std::string&, const std::string&) { return path("menu.pcap"); });
    window->menuBar()->findChild<QAction*>(QStringLiteral("saveBusCaptureAction"))->trigger();
    EXPECT_EQ(readPcap(path("menu.pcap")).packets.size(), 7u);
    window->setSaveFileHook(
        [](const std::string&, const std::string&) { return std::string("/nonexistent-dir/x.pcap"); });
    window->saveBusCapture();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("/nonexistent-dir/x.pcap"), std::string::npos);
}

TEST_F(BusMonitorWindowTest, TheSelectionSurvivesAFilterChangeAndStaysInSight) {
    for (int i = 0; i < 300; ++i)
        poll({0x00}, ExchangeEnd::BareAck);
    poll({0x0B, 0x0B}, ExchangeEnd::AckSent); // rows 600, 601
    for (int i = 0; i < 300; ++i)
        poll({0x00}, ExchangeEnd::BareAck);
    qt::BusMonitorWindow* monitor = window->showBusMonitor();
    settle();
    QTableView* table = monitor->table();
    auto selected = [&] {
        std::vector<int> rows;
        for (const QModelIndex& i : table->selectionModel()->selectedRows())
            rows.push_back(i.row());
        return rows;
    };
    auto inSight = [&](int row) {
        return table->viewport()->rect().intersects(table->visualRect(monitor->model().index(row, 0)));
    };
    table->selectRow(601);
    EXPECT_FALSE(monitor->follows()) << "a row chosen stays where it is";

    monitor->setFilter({true, -1, false});
    ASSERT_EQ(monitor->model().rowCount(), 2);
    EXPECT_EQ(selected(), std::vector<int>{1}) << "the same answer, in its new place";
    EXPECT_TRUE(inSight(1));

    monitor->setFilter({});
    EXPECT_EQ(selected(), std::vector<int>{601});
    EXPECT_TRUE(inSight(601));
    // New rows do not move it while following is paused.
    poll({0x00}, ExchangeEnd::BareAck);
    monitor->refresh();
    EXPECT_TRUE(inSight(601));

    // A row the filter hides gives its place to the next one shown.
    table->selectRow(10);
    monitor->setFilter({true, -1, false});
    EXPECT_EQ(selected(), std::vector<int>{0});
    EXPECT_EQ(monitor->model().data(monitor->model().index(0, ui::COLUMN_BYTES), Qt::DisplayRole), "33 33");
}

TEST_F(BusMonitorWindowTest, StatusMessagesGoWhenTheyStopBeingTrueAndCopyOfNothingSaysSo) {
    poll({0x00}, ExchangeEnd::BareAck);
    poll({0x0B, 0x0B}, ExchangeEnd::AckSent);
    qt::BusMonitorWindow* monitor = window->showBusMonitor();
    settle();
    EXPECT_EQ(monitor->copySelection(), QString());
    EXPECT_TRUE(monitor->statusText().contains("Nothing copied: select rows first"))
        << monitor->statusText().toStdString();
    monitor->table()->selectRow(3);
    monitor->refresh();
    EXPECT_FALSE(monitor->statusText().contains("Nothing copied")) << "a row is selected now";

    auto* search = monitor->findChild<QLineEdit*>("search");
    ASSERT_TRUE(search);
    search->setText("jammed");
    EXPECT_FALSE(monitor->findNext("jammed"));
    EXPECT_TRUE(monitor->statusText().contains("\"jammed\" not found"));
    search->setText("jam");
    monitor->refresh();
    EXPECT_FALSE(monitor->statusText().contains("not found")) << "another text is searched for now";

    monitor->sendTyped("99 99");
    EXPECT_TRUE(monitor->statusText().contains("Not sent: 99 is not a bill-validator command"));
    monitor->refresh();
    EXPECT_TRUE(monitor->statusText().contains("Not sent")) << "still true while the same frame is there";
    monitor->findChild<QLineEdit*>("typedFrame")->setText("33");
    monitor->refresh();
    EXPECT_FALSE(monitor->statusText().contains("Not sent"));
}

TEST_F(BusMonitorWindowTest, CtrlFGoesToTheSearchAndF3FindsTheNextRowShiftF3TheOneBefore) {
    poll({0x0B, 0x0B}, ExchangeEnd::AckSent); // rows 0, 1
    poll({0x00}, ExchangeEnd::BareAck);       // rows 2, 3
    poll({0x0B, 0x0B}, ExchangeEnd::AckSent); // rows 4, 5
    qt::BusMonitorWindow* monitor = window->showBusMonitor();
    // The keys go to the window that has the keyboard, as on a desktop.
    QApplication::setActiveWindow(monitor);
    ASSERT_EQ(QApplication::activeWindow(), monitor);
    monitor->table()->setFocus();
    QTest::keyClick(monitor->table(), Qt::Key_F, Qt::ControlModifier);
    auto* search = monitor->findChild<QLineEdit*>("search");
    ASSERT_TRUE(search);
    EXPECT_TRUE(search->hasFocus());
    QTest::keyClicks(search, "rejected");
    QTest::keyClick(search, Qt::Key_F3);
    EXPECT_EQ(monitor->table()->currentIndex().row(), 1);
    QTest::keyClick(search, Qt::Key_F3);
    EXPECT_EQ(monitor->table()->currentIndex().row(), 5);
    QTest::keyClick(search, Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_EQ(monitor->table()->currentIndex().row(), 1);

    // Ctrl+C in the table copies the rows selected, every column.
    monitor->table()->setFocus();
    monitor->table()->selectionModel()->select(
        QItemSelection(monitor->model().index(4, 0), monitor->model().index(5, ui::COLUMN_COUNT - 1)),
        QItemSelectionModel::ClearAndSelect);
    QTest::keyClick(monitor->table(), Qt::Key_C, Qt::ControlModifier);
    const QStringList lines = QApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].contains("\tsent\t")) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].contains("\tbill rejected\t")) << lines[1].toStdString();
}

TEST_F(BusMonitorWindowTest, TypedFramesAreRefusedWithTheirReasonWhileTheLinkIsNotRunning) {
    qt::BusMonitorWindow* monitor = window->showBusMonitor();
    monitor->sendTyped(QStringLiteral("33"));
    EXPECT_TRUE(monitor->statusText().contains(QStringLiteral("Not sent: the link is not running")))
        << monitor->statusText().toStdString();
    monitor->sendTyped(QStringLiteral("99 99"));
    EXPECT_TRUE(
        monitor->statusText().contains(QStringLiteral("Not sent: 99 is not a bill-validator command")));
    EXPECT_FALSE(window->core().typedFramePending());
}

TEST_F(BusMonitorWindowTest, ListeningDisablesWhatWouldTransmitWithTheReasonAndFiltersByDevice) {
    Pty controller, peripherals;
    ASSERT_FALSE(controller.slave.empty());
    QAction* listen = window->findChild<QAction*>(QStringLiteral("listenAction"));
    QAction* stop = window->findChild<QAction*>(QStringLiteral("stopListeningAction"));
    ASSERT_TRUE(listen && stop);
    EXPECT_TRUE(listen->isEnabled());
    EXPECT_FALSE(stop->isEnabled());

    // A port that does not open says why, as START does, and nothing changes.
    EXPECT_FALSE(window->startListening("", peripherals.slave));
    EXPECT_NE(messages.back().find("Choose both devices"), std::string::npos) << messages.back();
    EXPECT_FALSE(window->startListening(controller.slave, path("no-such-port")));
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.back().find("No Connection\nThe peripherals' line " + path("no-such-port")),
              std::string::npos)
        << messages.back();
    EXPECT_FALSE(window->core().listening());

    ASSERT_TRUE(window->startListening(controller.slave, peripherals.slave));
    settle();
    const QString why = QString::fromUtf8(ui::MainWindowLogic::listeningRefusal());
    EXPECT_FALSE(listen->isEnabled());
    EXPECT_TRUE(stop->isEnabled());
    EXPECT_FALSE(window->control(ids::START)->isEnabled());
    for (int id : {cmd::STATUS_REQUEST, cmd::ACCEPT_ESCROW, cmd::ENABLE_ALL_BILLS, cmd::STATISTICS_REQUEST,
                   cmd::START_DOWNLOAD}) {
        ASSERT_NE(window->menuAction(id), nullptr) << id;
        EXPECT_FALSE(window->menuAction(id)->isEnabled()) << id;
        EXPECT_EQ(window->menuAction(id)->toolTip(), why) << id;
    }
    // The bus monitor came up; its command line is disabled and refuses with the reason.
    qt::BusMonitorWindow* monitor = window->busMonitor();
    ASSERT_NE(monitor, nullptr);
    monitor->refresh();
    auto* typed = monitor->findChild<QLineEdit*>(QStringLiteral("typedFrame"));
    ASSERT_NE(typed, nullptr);
    EXPECT_FALSE(typed->isEnabled());
    auto* send = monitor->findChild<QPushButton*>(QStringLiteral("sendTyped"));
    ASSERT_NE(send, nullptr);
    EXPECT_FALSE(send->isEnabled());
    EXPECT_EQ(send->toolTip(), why);
    monitor->sendTyped(QStringLiteral("33"));
    EXPECT_TRUE(monitor->statusText().contains(QStringLiteral("Norvex sends nothing")))
        << monitor->statusText().toStdString();

    // Heard exchanges of two devices; the address filter keeps one.
    link::HeardExchange changer, validator;
    changer.address = 0x08;
    changer.command = {0x0B, 0x0B};
    changer.commandLength = 2;
    changer.commandFirstUs = changer.commandLastUs = 1000;
    changer.answer[0] = 0x00;
    changer.answerReceived = 1;
    changer.answerFirstUs = changer.answerLastUs = 3000;
    validator = changer;
    validator.address = 0x30;
    validator.command = {0x33, 0x33};
    window->core().busLog().addHeard(changer);
    window->core().busLog().addHeard(validator);
    monitor->refresh();
    EXPECT_EQ(monitor->model().rowCount(), 4);
    auto* address = monitor->findChild<QComboBox*>(QStringLiteral("addressFilter"));
    ASSERT_NE(address, nullptr);
    address->setCurrentIndex(address->findData(0x08));
    EXPECT_EQ(monitor->model().rowCount(), 2);
    EXPECT_EQ(monitor->model().monitor().cell(0, ui::COLUMN_COMMAND), "coin changer POLL");

    window->stopListening();
    settle();
    EXPECT_TRUE(listen->isEnabled());
    EXPECT_FALSE(stop->isEnabled());
    EXPECT_TRUE(window->control(ids::START)->isEnabled());
    EXPECT_TRUE(window->menuAction(cmd::STATUS_REQUEST)->isEnabled());
    EXPECT_NE(window->menuAction(cmd::STATUS_REQUEST)->toolTip(), why);
    monitor->refresh();
    EXPECT_TRUE(typed->isEnabled());
    EXPECT_TRUE(send->isEnabled());
}

} // namespace norvex::test
