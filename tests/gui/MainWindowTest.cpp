// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt main window against the real logic, rendered offscreen.

#include "ui/qt/MainWindow.h"
#include "GuiTestApp.h"
#include "link/LinkTypes.h"
#include "support/FakePort.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/qt/AboutDialog.h"
#include "ui/qt/BusMonitorWindow.h"
#include "ui/qt/CaptionFrame.h"
#include "ui/qt/EscrowPrompt.h"
#include "ui/qt/OptionsDialog.h"
#include "ui/qt/PageBar.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <QWindow>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace norvex::test {
namespace {

using qt::MainWindow;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        guiApp();
        ASSERT_TRUE(dir.isValid());
    }
    void TearDown() override {
        window.reset();
        settle();
        takeQuitRequest();
    }

    std::string dirPath() const { return dir.path().toStdString(); }
    std::string iniPath() const { return dirPath() + "/norvex.ini"; }

    MainWindow& open(link::PortFactory factory = {}) {
        window = std::make_unique<MainWindow>(ports, qt::MainWindowSetup{dirPath(), std::move(factory)});
        window->setMessageHook(
            [this](const std::string& text, const std::string& caption, MsgButtons, MsgIcon) {
                messages.push_back(caption + ": " + text);
                return MsgResult::Ok;
            });
        window->show();
        settle();
        return *window;
    }

    template <typename W> W* ctl(int id) { return qobject_cast<W*>(window->control(id)); }
    QWidget* barButton(int id) {
        return window->pageBar() ? window->pageBar()->controls().find(id) : nullptr;
    }
    int liveBars() {
        settle();
        return static_cast<int>(window->clientArea()->findChildren<qt::PageBar*>().size());
    }
    // The client area as the screen shows it, in full colour depth.
    QImage render(QWidget* widget = nullptr) {
        if (!widget) widget = window->clientArea();
        QImage img(widget->size(), QImage::Format_RGB32);
        img.fill(Qt::magenta);
        widget->render(&img);
        return img;
    }
    int digit(int position) { return ctl<QLabel>(ids::CREDIT_DIGIT_0 + position)->property("digit").toInt(); }

    QTemporaryDir dir;
    link::PortMap ports;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> messages;
};

TEST_F(MainWindowTest, StartsOnTheFirstPageWithTheStoredPortAndNothingKnown) {
    writeFile(iniPath(), "Com_Port_Num:3\r\n");
    MainWindow& w = open();

    EXPECT_EQ(ctl<QTabBar>(ids::TABS)->currentIndex(), 0);
    EXPECT_EQ(w.core().currentPage(), Page::CommandStatus);
    ASSERT_NE(w.pageBar(), nullptr);
    EXPECT_EQ(w.pageBar()->page(), Page::CommandStatus);
    EXPECT_EQ(liveBars(), 1);
    ASSERT_NE(barButton(ids::BAR_BUTTON), nullptr);
    EXPECT_FALSE(barButton(ids::BAR_BUTTON)->isEnabled()) << "RE-CONNECT before any START";
    EXPECT_TRUE(ctl<QPushButton>(ids::START)->isEnabled());
    EXPECT_TRUE(ctl<QComboBox>(ids::COM_SELECTOR)->isEnabled());
    EXPECT_EQ(ctl<QComboBox>(ids::COM_SELECTOR)->currentText(), "COM 4");
    for (int id = ids::FEATURE_LEVEL; id <= ids::PROGRAM_REVISION; ++id)
        EXPECT_EQ(ctl<QLabel>(id)->text(), "") << "field " << id;
    for (int p = 0; p < 4; ++p)
        EXPECT_EQ(digit(p), 0);
    EXPECT_EQ(ctl<QTreeWidget>(ids::BILL_LIST)->topLevelItem(15)->text(0), " Type 15  ___");
    EXPECT_TRUE(ctl<QTreeWidget>(ids::BILL_LIST)->selectedItems().isEmpty()) << "no bill type chosen yet";
    EXPECT_EQ(readFile(iniPath()), "Com_Port_Num:3\r\n") << "reading the settings does not rewrite them";
    EXPECT_TRUE(messages.empty());
}

TEST_F(MainWindowTest, SelectorShowsWhichDeviceEachComEntryOpens) {
    ports.set(2, "/dev/ttyACM7");
    MainWindow& w = open();
    auto* box = ctl<QComboBox>(ids::COM_SELECTOR);
    EXPECT_EQ(box->itemData(2, Qt::UserRole).toString(), "/dev/ttyACM7");
    EXPECT_TRUE(box->itemData(2, Qt::ToolTipRole).toString().contains("/dev/ttyACM7"));
    EXPECT_EQ(box->itemData(0, Qt::UserRole).toString(),
              QString::fromStdString(link::PortMap::defaultPath(0)));
    (void)w;
}

TEST_F(MainWindowTest, SettingsFileIsCreatedAtFirstRunAndRewrittenInPlaceOnEachChoice) {
    open();
    EXPECT_EQ(readFile(iniPath()), "Com_Port_Num:0\r\n");
    EXPECT_EQ(ctl<QComboBox>(ids::COM_SELECTOR)->currentIndex(), 0);

    ctl<QComboBox>(ids::COM_SELECTOR)->setCurrentIndex(2); // "COM 3"
    EXPECT_EQ(readFile(iniPath()), "Com_Port_Num:2\r\n");

    window.reset();
    writeFile(iniPath(), "Com_Port_Num:1\r\nkeep these bytes");
    open();
    EXPECT_EQ(ctl<QComboBox>(ids::COM_SELECTOR)->currentText(), "COM 2");
    ctl<QComboBox>(ids::COM_SELECTOR)->setCurrentIndex(3);
    EXPECT_EQ(readFile(iniPath()), "Com_Port_Num:3\r\nkeep these bytes");
}

TEST_F(MainWindowTest, RendersTheTitleFramesAndColoursWhereTheyBelong) {
    MainWindow& w = open();
    const QImage img = render();
    img.save("/tmp/norvex-main.png");
    EXPECT_EQ(w.windowTitle(), "Tavik MDB test program [ rev 6 ]");
    EXPECT_EQ(img.size(), QSize(561, 426)); // 374 x 262 dialog units

    const QColor teal(0, 159, 159), black(0, 0, 0);
    // Event history frame: verticals at 276 and 502, rules at 204, 224 and 356.
    EXPECT_EQ(img.pixelColor(276, 300), teal);
    EXPECT_EQ(img.pixelColor(502, 300), teal);
    EXPECT_EQ(img.pixelColor(400, 204), teal);
    EXPECT_EQ(img.pixelColor(400, 224), teal);
    EXPECT_EQ(img.pixelColor(400, 356), teal);
    // Command history frame: verticals at 48 and 266.
    EXPECT_EQ(img.pixelColor(48, 300), teal);
    EXPECT_EQ(img.pixelColor(266, 300), teal);
    // The page area is black inside, up to its exclusive corner (541,365); the frame's lines stop
    // short of the area's edges.
    EXPECT_EQ(img.pixelColor(18, 194), black);
    EXPECT_EQ(img.pixelColor(541, 365), black);
    EXPECT_EQ(img.pixelColor(520, 300), black);
    EXPECT_NE(img.pixelColor(542, 300), black);
    EXPECT_NE(img.pixelColor(17, 300), black);
    // Titles in grey (204,204,204) on black, on the title row.
    bool greyTitle = false;
    for (int x = 290; x < 400 && !greyTitle; ++x)
        for (int y = 206; y < 219; ++y)
            greyTitle |= img.pixelColor(x, y) == QColor(204, 204, 204);
    EXPECT_TRUE(greyTitle);

    // The page frame (7,107,360,123) du surrounds the page area.
    const QRect frame = ctl<qt::CaptionFrame>(ids::PAGE_FRAME)->geometry();
    EXPECT_TRUE(frame.contains(QRect(18, 194, 524, 172)));
    // The bill list's text background is grey.
    auto* list = ctl<QTreeWidget>(ids::BILL_LIST);
    EXPECT_EQ(list->palette().color(QPalette::Base), QColor(204, 204, 204));
    const QImage listImage = render(list->viewport());
    EXPECT_EQ(listImage.pixelColor(listImage.width() - 3, 2), QColor(204, 204, 204));
}

TEST_F(MainWindowTest, TabChangesKeepExactlyOneBar) {
    MainWindow& w = open();
    auto* tabs = ctl<QTabBar>(ids::TABS);
    for (int page : {1, 2, 3, 4, 5, 0, 3, 5}) {
        tabs->setCurrentIndex(page);
        EXPECT_EQ(liveBars(), 1) << "page " << page;
        ASSERT_NE(w.pageBar(), nullptr);
        EXPECT_EQ(tabIndex(w.pageBar()->page()), page);
        EXPECT_EQ(tabIndex(w.core().currentPage()), page);
    }
    // The optics bar comes up on red every time; the traffic bar running.
    tabs->setCurrentIndex(3);
    qobject_cast<QPushButton*>(barButton(1025))->click();
    tabs->setCurrentIndex(1);
    tabs->setCurrentIndex(3);
    EXPECT_TRUE(qobject_cast<QPushButton*>(barButton(1023))->isChecked());
    EXPECT_FALSE(qobject_cast<QPushButton*>(barButton(1025))->isChecked());

    // Selecting the page already shown keeps its bar.
    const int created = w.barsCreated();
    w.core().selectPage(Page::MainOptics);
    EXPECT_EQ(w.barsCreated(), created);
    EXPECT_EQ(liveBars(), 1);
}

TEST_F(MainWindowTest, TrafficPageShowsItsImageAndTheStopButtonFollowsTheLogic) {
    MainWindow& w = open();
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(5);
    settle();
    const QImage img = render();
    EXPECT_EQ(img.pixelColor(100, 200), QColor(0, 0, 0));   // controller row
    EXPECT_EQ(img.pixelColor(100, 220), QColor(0, 204, 0)); // validator row
    EXPECT_EQ(img.pixelColor(100, 360), QColor(0, 0, 0));   // below the five lines

    auto* stop = qobject_cast<QPushButton*>(barButton(ids::TRAFFIC_STOP));
    ASSERT_NE(stop, nullptr);
    EXPECT_EQ(stop->text(), "Stop Display");
    stop->click();
    EXPECT_EQ(stop->text(), "Resume Display");
    EXPECT_TRUE(w.core().trafficView().trafficStopped());
    stop->click();
    EXPECT_EQ(stop->text(), "Stop Display");
}

TEST_F(MainWindowTest, OptionsOkTakesEachEscrowChoice) {
    MainWindow& w = open();
    using control::EscrowOption;
    const std::pair<int, EscrowOption> radios[] = {
        {1043, EscrowOption::AutoReturn}, {1044, EscrowOption::AutoStack}, {1042, EscrowOption::Manual}};
    for (const auto& [radio, choice] : radios) {
        w.menuAction(cmd::OPTIONS)->trigger();
        auto* dlg = qobject_cast<qt::OptionsDialog*>(w.modeless(Modeless::Options));
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->escrowChoice(), w.core().controller().escrowOption()) << "shows the option in force";
        EXPECT_FALSE(dlg->controls().find(1017)->isEnabled()) << "Browse without data saving";
        dlg->controls().get<QRadioButton>(radio)->click();
        dlg->controls().get<QPushButton>(1)->click();
        settle();
        EXPECT_EQ(w.core().controller().escrowOption(), choice);
        EXPECT_EQ(w.modeless(Modeless::Options), nullptr);
        EXPECT_FALSE(w.core().optionsDialogOpen());
    }
}

TEST_F(MainWindowTest, OptionsTwiceActivatesTheOpenDialogAndCancelKeepsTheEscrowOption) {
    MainWindow& w = open();
    w.menuAction(cmd::OPTIONS)->trigger();
    auto* first = w.modeless(Modeless::Options);
    w.menuAction(cmd::OPTIONS)->trigger();
    EXPECT_EQ(w.modeless(Modeless::Options), first);
    EXPECT_EQ(w.findChildren<qt::OptionsDialog*>().size(), 1);

    auto* dlg = qobject_cast<qt::OptionsDialog*>(first);
    dlg->controls().get<QRadioButton>(1044)->click();
    dlg->controls().get<QRadioButton>(1046)->click();
    EXPECT_TRUE(dlg->controls().find(1017)->isEnabled());
    EXPECT_EQ(w.core().options().dataSavingOption, ui::DataSaving::ToFile) << "the saving radios act at once";
    QTest::keyClick(dlg, Qt::Key_Escape);
    settle();
    EXPECT_EQ(w.core().controller().escrowOption(), control::EscrowOption::Manual);
    EXPECT_EQ(w.modeless(Modeless::Options), nullptr);
    EXPECT_FALSE(w.core().dataFileOpen());
}

TEST_F(MainWindowTest, EscrowedBillUnderManualOpensOnePromptAndAcceptAsksToStack) {
    MainWindow& w = open();
    link::LinkData& data = w.core().linkData();
    w.core().controller().appendEvent(0x90);
    w.core().controller().appendEvent(0x90);
    settle();
    EXPECT_EQ(w.findChildren<qt::EscrowPrompt*>().size(), 1);
    auto* prompt = qobject_cast<qt::EscrowPrompt*>(w.modeless(Modeless::EscrowPrompt));
    ASSERT_NE(prompt, nullptr);
    EXPECT_TRUE(prompt->isVisible());
    EXPECT_EQ(prompt->windowTitle(), "Bill in ESCROW - options:");

    // Enter answers only once a button is picked: Tab picks ACCEPT.
    QTest::keyClick(prompt, Qt::Key_Return);
    settle();
    EXPECT_EQ(data.state(link::REQ_ESCROW_STACK), link::RequestState::Idle);
    ASSERT_EQ(w.modeless(Modeless::EscrowPrompt), prompt);
    QTest::keyClick(prompt, Qt::Key_Tab);
    ASSERT_EQ(prompt->focusWidget(), prompt->controls().get<QPushButton>(1));
    QTest::keyClick(prompt->focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_EQ(data.state(link::REQ_ESCROW_STACK), link::RequestState::Requested);
    EXPECT_EQ(data.state(link::REQ_ESCROW_RETURN), link::RequestState::Idle);
    EXPECT_EQ(w.modeless(Modeless::EscrowPrompt), nullptr);
    EXPECT_FALSE(w.core().controller().escrowPromptOpen());
    EXPECT_TRUE(w.findChildren<qt::EscrowPrompt*>().empty());

    // The next escrowed bill gets a new prompt; closing it returns the bill.
    w.core().controller().appendEvent(0x90);
    prompt = qobject_cast<qt::EscrowPrompt*>(w.modeless(Modeless::EscrowPrompt));
    ASSERT_NE(prompt, nullptr);
    prompt->close();
    settle();
    EXPECT_EQ(data.state(link::REQ_ESCROW_RETURN), link::RequestState::Requested);
    EXPECT_EQ(w.modeless(Modeless::EscrowPrompt), nullptr);
}

// A bill goes into escrow while the technician types a frame in the bus monitor's command line:
// the prompt asks to come up without the keyboard, neither of its buttons is a default, and the
// Enter that follows answers nothing, wherever the window system put the keyboard (offscreen
// hands it to every window shown, as some window managers do; the real-window test shows the
// monitor keeping it).
TEST_F(MainWindowTest, TheEscrowPromptTakesNoKeysMeantForAnotherWindow) {
    MainWindow& w = open();
    link::LinkData& data = w.core().linkData();
    qt::BusMonitorWindow* monitor = w.showBusMonitor();
    auto* typed = monitor->findChild<QLineEdit*>(QStringLiteral("typedFrame"));
    ASSERT_NE(typed, nullptr);
    typed->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(monitor));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("36"));

    for (int bill = 0; bill < 2; ++bill) { // the second one brings the open prompt up again
        w.core().controller().appendEvent(0x90);
        settle();
        auto* prompt = qobject_cast<qt::EscrowPrompt*>(w.modeless(Modeless::EscrowPrompt));
        ASSERT_NE(prompt, nullptr);
        EXPECT_TRUE(prompt->isVisible());
        EXPECT_TRUE(prompt->testAttribute(Qt::WA_ShowWithoutActivating));
        for (int id : {1, 2}) {
            const auto* button = prompt->controls().get<QPushButton>(id);
            EXPECT_FALSE(button->isDefault() || button->autoDefault()) << id;
            EXPECT_NE(QApplication::focusWidget(), button) << "a button chosen for the operator";
        }
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        settle();
        EXPECT_EQ(data.state(link::REQ_ESCROW_STACK), link::RequestState::Idle);
        EXPECT_EQ(data.state(link::REQ_ESCROW_RETURN), link::RequestState::Idle);
        EXPECT_EQ(w.modeless(Modeless::EscrowPrompt), prompt);
    }
}

TEST_F(MainWindowTest, StartReportsAPortThatWillNotOpenThenEnablesReconnectAndCloseStopsTheLink) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    // A port that cannot be opened: told, and START can be pressed again.
    port->failOpen = true;
    ctl<QPushButton>(ids::START)->click();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].substr(0, messages[0].find('\n')), "Info: No Connection");
    EXPECT_TRUE(ctl<QPushButton>(ids::START)->isEnabled());
    EXPECT_FALSE(barButton(ids::BAR_BUTTON)->isEnabled());
    port->failOpen = false;

    ctl<QPushButton>(ids::START)->click();
    settle();
    ASSERT_TRUE(w.core().controller().started()) << messages.back();
    EXPECT_FALSE(ctl<QPushButton>(ids::START)->isEnabled());
    EXPECT_FALSE(ctl<QComboBox>(ids::COM_SELECTOR)->isEnabled());
    EXPECT_TRUE(barButton(ids::BAR_BUTTON)->isEnabled());
    EXPECT_TRUE(w.pollTimer().isActive());
    EXPECT_EQ(w.pollTimer().interval(), 100);
    EXPECT_EQ(ctl<qt::CaptionFrame>(ids::PAGE_FRAME)->title(), "activity monitor - poll timer 100 ms");
    // Another period while running: the timer ticks at it.
    w.menuAction(cmd::POLL_20)->trigger();
    EXPECT_TRUE(w.pollTimer().isActive());
    EXPECT_EQ(w.pollTimer().interval(), 20);
    EXPECT_EQ(ctl<qt::CaptionFrame>(ids::PAGE_FRAME)->title(), "activity monitor - poll timer 20 ms");

    // The note below the port selector says how the mode bit is made and how answers are
    // framed; the longest of its texts fits the window.
    auto* note = ctl<QLabel>(ids::LINE_NOTE);
    EXPECT_EQ(note->text().toStdString().rfind("mode bit: mark parity; framed by checksum + quiet line; ", 0),
              0u);
    const QString longest = QString::fromStdString(
        ui::MainWindowLogic::lineNote(false, link::Framing::MarksUnreliable, link::WorkerPriority::Normal));
    EXPECT_LE(note->fontMetrics().horizontalAdvance(longest), note->width());
    EXPECT_GE(note->geometry().left(), 0);

    ctl<QTabBar>(ids::TABS)->setCurrentIndex(2);
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(0);
    EXPECT_TRUE(barButton(ids::BAR_BUTTON)->isEnabled());
    // RE-CONNECT runs the start-up sequence again.
    ASSERT_TRUE(QTest::qWaitFor([&] { return w.core().controller().startupCountdown() < 25; }, 2000));
    qobject_cast<QPushButton*>(barButton(ids::BAR_BUTTON))->click();
    EXPECT_EQ(w.core().controller().startupCountdown(), 25u);

    w.close();
    EXPECT_FALSE(w.pollTimer().isActive());
    EXPECT_FALSE(port->opened);
}

TEST_F(MainWindowTest, AnsweredPollReachesTheWindowThroughTheNotificationBridge) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(w.core().controller().started());
    // RESET goes out at the first tick; the validator acknowledges it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->writesSnapshot().size() >= 1; }, 3000));
    port->feed({0x00});
    // Then POLLs: answer the next one with "bill type 0 escrowed".
    const std::size_t before = port->writesSnapshot().size();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            auto writes = port->writesSnapshot();
            return writes.size() > before && writes.back() == std::vector<std::uint8_t>{0x33, 0x33};
        },
        3000));
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(5);
    settle();
    port->feed({0x90, 0x90});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.modeless(Modeless::EscrowPrompt) != nullptr; }, 3000));
    // The exchange went into the traffic page's image: green controller digits on the first line.
    settle();
    bool drawn = false;
    const QImage& traffic = w.trafficImage();
    for (int y = 4; y < 20 && !drawn; ++y)
        for (int x = 12; x < 500 && !drawn; ++x)
            drawn = traffic.pixelColor(x, y) == QColor(0, 255, 0);
    EXPECT_TRUE(drawn);
    // Closing while the link runs neither hangs nor leaves the port open.
    w.close();
    EXPECT_FALSE(port->opened);
}

TEST_F(MainWindowTest, ClosingWhileTheWorkerWaitsToNotifyNeitherHangsNorCrashes) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return port->writesSnapshot().size() >= 1; }, 3000));
    // The RESET is acknowledged; the window does not run its loop, so the worker stays blocked
    // handing over the completion.
    port->feed({0x00});
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const auto start = std::chrono::steady_clock::now();
    w.close();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_FALSE(port->opened);
    settle(); // the queued hand-over arrives after the close and is ignored
    EXPECT_TRUE(w.isShutDown());
}

TEST_F(MainWindowTest, LogFileDialogWritesTheReportWhereTheOperatorChose) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    std::vector<std::string> proposals;
    const std::string report = dirPath() + "/report.TXT";
    w.setSaveFileHook([&](const std::string&, const std::string& proposed) -> std::optional<std::string> {
        proposals.push_back(proposed);
        return report;
    });

    w.menuAction(cmd::CREATE_LOG_FILE)->trigger();
    EXPECT_EQ(w.modeless(Modeless::LogFile), nullptr) << "needs a started link";
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "Info: Connection with validator required");

    ctl<QPushButton>(ids::START)->click();
    w.menuAction(cmd::CREATE_LOG_FILE)->trigger();
    auto* dlg = w.modeless(Modeless::LogFile);
    ASSERT_NE(dlg, nullptr);
    QTest::keyClicks(dlg->controls().find(1034), "SN42");
    qobject_cast<QPushButton*>(dlg->controls().find(1))->click();
    settle();
    EXPECT_EQ(proposals, std::vector<std::string>{"Tavik_SN42.TXT"});
    EXPECT_FALSE(readFile(report).empty());
    EXPECT_EQ(messages.back(), "Log File Location: Log File Created at " + report + " ");
    EXPECT_EQ(w.modeless(Modeless::LogFile), nullptr);
    EXPECT_FALSE(w.core().logDialogOpen());
    w.close();
}

// Each box of the dialog brings its own part into the report, and only that part.
TEST_F(MainWindowTest, LogFileDialogsCheckBoxesReachTheReportAsThePartsTheyName) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    const std::string report = dirPath() + "/parts.TXT";
    w.setSaveFileHook(
        [&](const std::string&, const std::string&) -> std::optional<std::string> { return report; });
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(w.core().controller().started());
    struct Box {
        int id;
        const char* label;
        const char* title;
    };
    const Box boxes[] = {{1030, "Statistics Data", "  PART I - STATISTICAL DATA \r\n"},
                         {1031, "Sensors Data", "  PART II - SENSORS DATA\r\n"},
                         {1032, "Main Optics Parameters", "  PART III - MAIN OPTICS PARAMETERS\r\n"}};
    for (const Box& only : boxes) {
        w.menuAction(cmd::CREATE_LOG_FILE)->trigger();
        auto* dlg = w.modeless(Modeless::LogFile);
        ASSERT_NE(dlg, nullptr);
        for (const Box& b : boxes) {
            auto* check = dlg->controls().get<QCheckBox>(b.id);
            ASSERT_NE(check, nullptr);
            EXPECT_EQ(check->text().toStdString(), b.label);
            check->setChecked(b.id == only.id);
        }
        qobject_cast<QPushButton*>(dlg->controls().find(1))->click();
        settle();
        const std::string text = readFile(report);
        for (const Box& b : boxes)
            EXPECT_EQ(text.find(b.title) != std::string::npos, b.id == only.id)
                << only.label << " / " << b.label;
        EXPECT_EQ(text.find("PART IV"), std::string::npos) << only.label;
    }
    w.close();
}

TEST_F(MainWindowTest, DownloadCancelledAtTheFirstQuestionStillEndsTheRun) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(w.core().controller().started());
    w.setMessageHook(
        [this](const std::string& text, const std::string& caption, MsgButtons buttons, MsgIcon) {
            messages.push_back(caption + ": " + text);
            return buttons == MsgButtons::OkCancel ? MsgResult::Cancel : MsgResult::Ok;
        });
    w.menuAction(cmd::START_DOWNLOAD)->trigger();
    settle();
    ASSERT_FALSE(messages.empty());
    EXPECT_NE(messages.front().find("DIP"), std::string::npos) << messages.front();
    EXPECT_TRUE(w.isShutDown());
    EXPECT_FALSE(w.pollTimer().isActive());
    EXPECT_FALSE(port->opened) << "the MDB link is closed before the loader dialogue";
    EXPECT_EQ(w.modeless(Modeless::Download), nullptr);
}

TEST_F(MainWindowTest, ClosingTheWindowDuringTheDownloadWaitsForItsEnd) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    bool closedEarly = true;
    w.setMessageHook([&](const std::string&, const std::string&, MsgButtons buttons, MsgIcon) {
        if (buttons == MsgButtons::OkCancel) {
            // The operator closes the window while the procedure is asking: nothing happens yet.
            w.close();
            closedEarly = w.isShutDown();
            return MsgResult::Cancel;
        }
        return MsgResult::Ok;
    });
    w.menuAction(cmd::START_DOWNLOAD)->trigger();
    settle();
    EXPECT_FALSE(closedEarly);
    EXPECT_TRUE(w.isShutDown()); // the download's own end
}

// The captions the logic sets (the poll caption, the mode-bit note, the bar buttons' second
// texts) must fit as well as the templates' own.
TEST_F(MainWindowTest, EveryCaptionFitsIncludingTheOnesTheLogicSets) {
    auto port = std::make_shared<FakePortState>();
    port->markParity = false; // the longer note
    MainWindow& w = open(fakePortFactory(port));
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(w.core().controller().started());
    w.menuAction(cmd::POLL_200)->trigger();
    auto checkAll = [&](const char* when) {
        for (QWidget* c : w.clientArea()->findChildren<QWidget*>())
            EXPECT_EQ(captionOverflow(c), "") << when << ": " << c->objectName().toStdString();
    };
    checkAll("after START");
    for (int page = 1; page < 6; ++page) {
        ctl<QTabBar>(ids::TABS)->setCurrentIndex(page);
        settle();
        checkAll("page bar");
    }
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(5);
    qobject_cast<QPushButton*>(barButton(ids::TRAFFIC_STOP))->click();
    EXPECT_EQ(qobject_cast<QPushButton*>(barButton(ids::TRAFFIC_STOP))->text(), "Resume Display");
    checkAll("display stopped");
    render().save("/tmp/norvex-traffic-stopped.png"); // for a person to look at
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(1);
    qobject_cast<QPushButton*>(barButton(ids::NEXT_EVENTS))->click();
    qobject_cast<QPushButton*>(barButton(ids::NEXT_BILLS))->click();
    EXPECT_EQ(qobject_cast<QPushButton*>(barButton(ids::NEXT_BILLS))->text(), "Prev 8");
    checkAll("second halves");
    w.close();
}

// Ids repeat between windows: 1017 is RE-CONNECT on the first page's bar and Browse in Options.
TEST_F(MainWindowTest, StartEnablesReconnectOnItsBarAndNothingInAnotherWindow) {
    auto port = std::make_shared<FakePortState>();
    MainWindow& w = open(fakePortFactory(port));
    w.menuAction(cmd::OPTIONS)->trigger();
    auto* options = qobject_cast<qt::OptionsDialog*>(w.modeless(Modeless::Options));
    ASSERT_NE(options, nullptr);
    QWidget* browse = options->controls().find(1017);
    ASSERT_FALSE(browse->isEnabled()) << "Browse waits for \"Saving data in file\"";
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(4); // a bar without a control 1017
    ctl<QPushButton>(ids::START)->click();
    ASSERT_TRUE(w.core().controller().started());
    EXPECT_FALSE(browse->isEnabled());
    ctl<QTabBar>(ids::TABS)->setCurrentIndex(0);
    EXPECT_TRUE(barButton(ids::BAR_BUTTON)->isEnabled()) << "RE-CONNECT once its bar is shown";
    EXPECT_FALSE(browse->isEnabled());
    w.close();
}

// A small dialog with minimise and maximise buttons gets its caption shortened by the window
// manager; the fixed-size main window has nothing to maximise.
TEST_F(MainWindowTest, DialogsOfferOnlyACloseBoxAndTheMainWindowNoMaximise) {
    MainWindow& w = open();
    auto offersOnlyClose = [](const QWidget* d) {
        const Qt::WindowFlags f = d->windowFlags();
        return f.testFlag(Qt::WindowCloseButtonHint) && f.testFlag(Qt::WindowTitleHint) &&
               !f.testFlag(Qt::WindowMinimizeButtonHint) && !f.testFlag(Qt::WindowMaximizeButtonHint) &&
               f.testFlag(Qt::CustomizeWindowHint);
    };
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
    w.core().controller().appendEvent(0x90); // a bill in escrow: the prompt
    w.menuAction(cmd::OPTIONS)->trigger();
    for (Modeless m : {Modeless::EscrowPrompt, Modeless::Options}) {
        ASSERT_NE(w.modeless(m), nullptr);
        EXPECT_TRUE(offersOnlyClose(w.modeless(m))) << static_cast<int>(m);
    }
    qt::AboutDialog about(&w);
    EXPECT_TRUE(offersOnlyClose(&about));

    // A message box as the operator sees it (no answering hook).
    w.setMessageHook(nullptr);
    bool seen = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* box = qobject_cast<QMessageBox*>(top); box && box->isVisible()) {
                seen = true;
                EXPECT_TRUE(offersOnlyClose(box));
                EXPECT_EQ(box->windowTitle(), "Info");
                // A window manager that draws its own icon and buttons anyway (openbox) still
                // leaves the caption of a short message room.
                QFont bold = box->font();
                bold.setBold(true);
                EXPECT_GE(box->width(), QFontMetrics(bold).horizontalAdvance("Info") + 100);
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    w.core().onBillListRightClick(); // nothing selected: no message
    ctl<QTreeWidget>(ids::BILL_LIST)->topLevelItem(3)->setSelected(true);
    w.core().onBillListClick(); // before START: "No connection", a short message
    EXPECT_TRUE(seen);
}

// While a question waits for its answer only its owner, the main window, waits with it: the
// validator holds the bill meanwhile, so the escrow prompt must still take ACCEPT.
TEST_F(MainWindowTest, AMessageBoxLeavesTheEscrowPromptUsable) {
    MainWindow& w = open();
    link::LinkData& data = w.core().linkData();
    w.core().controller().appendEvent(0x90);
    settle();
    auto* prompt = qobject_cast<qt::EscrowPrompt*>(w.modeless(Modeless::EscrowPrompt));
    ASSERT_NE(prompt, nullptr);
    QPointer<QPushButton> accept = prompt->controls().get<QPushButton>(1);
    auto* exitButton = ctl<QPushButton>(ids::CANCEL);
    w.setMessageHook(nullptr);
    bool duringBox = false;
    // Clicks go through the window system's path, where a modal window blocks the others.
    auto click = [](QWidget* target) {
        QWindow* window = target->window()->windowHandle();
        const QPoint at = window->mapFromGlobal(target->mapToGlobal(target->rect().center()));
        QTest::mouseClick(window, Qt::LeftButton, Qt::NoModifier, at);
        QCoreApplication::processEvents();
    };
    QTimer::singleShot(0, [&] {
        QMessageBox* box = nullptr;
        for (QWidget* top : QApplication::topLevelWidgets())
            if (auto* b = qobject_cast<QMessageBox*>(top); b && b->isVisible()) box = b;
        ASSERT_NE(box, nullptr);
        duringBox = true;
        click(exitButton); // the owner waits for the answer
        EXPECT_TRUE(w.isVisible());
        EXPECT_FALSE(w.isShutDown());
        w.close(); // nor does the close box end it
        EXPECT_FALSE(w.isShutDown());
        ASSERT_FALSE(accept.isNull());
        click(accept);
        EXPECT_EQ(data.state(link::REQ_ESCROW_STACK), link::RequestState::Requested)
            << "ACCEPT while the box is up";
        EXPECT_EQ(w.modeless(Modeless::EscrowPrompt), nullptr);
        box->button(QMessageBox::Ok)->click();
    });
    ctl<QTreeWidget>(ids::BILL_LIST)->topLevelItem(2)->setSelected(true);
    w.core().onBillListClick(); // before START: "No connection"
    EXPECT_TRUE(duringBox);
    EXPECT_FALSE(w.isShutDown());
}

} // namespace
TEST_F(MainWindowTest, EveryMenuAndMenuItemHasAnAccessKeyOfItsOwn) {
    open();
    // The key after '&' (none for "&&"), lower case.
    auto key = [](const QString& text) -> QChar {
        for (qsizetype i = 0; i + 1 < text.size(); ++i) {
            if (text[i] != QLatin1Char('&')) continue;
            if (text[i + 1] != QLatin1Char('&')) return text[i + 1].toLower();
            ++i;
        }
        return {};
    };
    std::function<void(const QList<QAction*>&, const QString&)> check = [&](const QList<QAction*>& actions,
                                                                            const QString& where) {
        std::map<QChar, QString> taken;
        for (QAction* a : actions) {
            if (a->isSeparator()) continue;
            const QChar k = key(a->text());
            EXPECT_FALSE(k.isNull()) << where.toStdString() << ": \"" << a->text().toStdString()
                                     << "\" has no access key";
            if (!k.isNull()) {
                EXPECT_TRUE(taken.emplace(k, a->text()).second)
                    << where.toStdString() << ": \"" << a->text().toStdString() << "\" and \""
                    << taken[k].toStdString() << "\" share one key";
            }
            if (a->menu()) check(a->menu()->actions(), where + " > " + a->text());
        }
    };
    check(window->menuBar()->actions(), QStringLiteral("menu bar"));
    EXPECT_GE(window->menuBar()->actions().size(), 7);
}

} // namespace norvex::test
