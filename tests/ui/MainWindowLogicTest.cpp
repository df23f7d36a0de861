// SPDX-License-Identifier: GPL-3.0-or-later
// The toolkit-free main window: start-up, pages and bars, commands, notifications, the report
// and the data file, driven through a recording view and a scripted port.

#include "ui/core/MainWindowLogic.h"
#include "support/FakePort.h"
#include "support/RecordingSurface.h"
#include "support/RecordingView.h"
#include "ui/core/NotificationBridge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

using namespace norvex;
using namespace norvex::link;
using norvex::test::RecordingSurface;
using norvex::test::RecordingView;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class MainWindowLogicTest : public ::testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("norvex-main-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::shared_ptr<test::FakePortState> port = std::make_shared<test::FakePortState>();
    RecordingView view;
    PortMap ports;
    std::unique_ptr<ui::MainWindowLogic> core;
    ui::NotificationBridge bridge{[] {}, [](std::uint8_t) {}, [](const link::LinkFault&) {}};

    void SetUp() override {
        fs::create_directories(dir);
        core = std::make_unique<ui::MainWindowLogic>(view, ports, test::fakePortFactory(port));
        core->setSettingsDirectory(dir.string());
        core->setClock([] {
            std::tm t{};
            t.tm_year = 126;
            t.tm_mon = 11;
            t.tm_mday = 6;
            t.tm_hour = 9;
            t.tm_min = 5;
            t.tm_sec = 3;
            return t;
        });
    }
    void TearDown() override {
        core->onDestroy();
        core.reset();
        fs::remove_all(dir);
    }
    void start() {
        core->onInitDialog();
        core->onStart(bridge);
        ASSERT_TRUE(core->controller().started());
    }
};

// Hands the worker's completions on after a delay: a worker that a busy machine holds back
// between sending its acknowledge and handing the answer over.
class LateHandOver : public LinkNotifier {
public:
    explicit LateHandOver(LinkNotifier& to) : to_(to) {}
    bool notify(std::uint8_t code) override {
        std::this_thread::sleep_for(delay.load());
        return to_.notify(code);
    }
    void linkFailed(const LinkFault& fault) override { to_.linkFailed(fault); }
    void cancelWaits() override { to_.cancelWaits(); }
    std::atomic<std::chrono::milliseconds> delay{std::chrono::milliseconds(0)};

private:
    LinkNotifier& to_;
};

} // namespace

TEST_F(MainWindowLogicTest, StartsOnTheFirstPageWithTheStoredPortAndEmptyState) {
    { std::ofstream(dir / "norvex.ini", std::ios::binary) << "Com_Port_Num:2\r\n"; }
    core->onInitDialog();
    EXPECT_EQ(core->currentPage(), Page::CommandStatus);
    EXPECT_EQ(view.comPort, 2);
    EXPECT_EQ(core->portNumber(), 2);
    EXPECT_EQ(view.liveBars, std::vector<int>{0});
    EXPECT_FALSE((view.barEnabled[{0, ids::BAR_BUTTON}])); // RE-CONNECT waits for START
    EXPECT_EQ(view.cells[0][0], " Type 00  ___");
    EXPECT_EQ(view.cells[15][0], " Type 15  ___");
    for (int d : view.digits)
        EXPECT_EQ(d, 0);

    RecordingSurface s;
    core->onPaint(s);
    EXPECT_EQ(view.title, "Tavik MDB test program [ rev 6 ]");
    EXPECT_TRUE(s.hasText("VALIDATOR - STATUS"));
    EXPECT_TRUE(s.hasText("CONTROLLER - COMMAND"));
}

TEST_F(MainWindowLogicTest, EveryPageKeepsExactlyOneBar) {
    core->onInitDialog();
    for (int page : {1, 2, 3, 4, 5, 0, 3, 3}) {
        core->onTabChange(page);
        EXPECT_EQ(view.liveBars, std::vector<int>{page});
    }
    const int created = view.barsCreated[3];
    core->selectPage(Page::MainOptics); // already shown: activated, not created again
    EXPECT_EQ(view.barsCreated[3], created);
    EXPECT_GE(view.barsActivated[3], 1);
}

TEST_F(MainWindowLogicTest, EachTabShowsItsPageAndAnIndexOutsideTheTabsChangesNone) {
    const Page inTabOrder[] = {Page::CommandStatus, Page::Statistics, Page::Sensors,
                               Page::MainOptics,    Page::VideoTest,  Page::Traffic};
    for (int index = 0; index < PAGE_COUNT; ++index) {
        EXPECT_EQ(pageAtTab(index), inTabOrder[index]) << index;
        EXPECT_EQ(tabIndex(inTabOrder[index]), index);
    }
    EXPECT_FALSE(pageAtTab(-1).has_value());
    EXPECT_FALSE(pageAtTab(PAGE_COUNT).has_value());

    core->onInitDialog();
    core->onTabChange(4);
    const int created = view.barsCreated[4];
    for (int index : {-1, 6, 255}) {
        core->onTabChange(index);
        EXPECT_EQ(core->currentPage(), Page::VideoTest) << index;
        EXPECT_EQ(view.liveBars, std::vector<int>{4});
    }
    EXPECT_EQ(view.barsCreated[4], created);
}

TEST_F(MainWindowLogicTest, PagesStartAfreshWhenEntered) {
    core->onInitDialog();
    core->onTabChange(1);
    EXPECT_TRUE(core->onCommand(ids::NEXT_EVENTS));
    EXPECT_EQ((view.barTexts[{1, ids::NEXT_EVENTS}]), "Prev 9");
    EXPECT_FALSE(core->eventsFirstHalf());
    core->onTabChange(0);
    core->onTabChange(1);
    EXPECT_TRUE(core->eventsFirstHalf());

    core->onTabChange(3);
    core->onCommand(ids::OPTICS_RED + 2);
    EXPECT_EQ(core->optics().selectedColour, 2);
    core->onTabChange(2);
    core->onTabChange(3);
    EXPECT_EQ(core->optics().selectedColour, 0);

    core->onTabChange(5);
    core->onCommand(ids::TRAFFIC_STOP);
    EXPECT_EQ((view.barTexts[{5, ids::TRAFFIC_STOP}]), "Resume Display");
    EXPECT_TRUE(core->trafficView().trafficStopped());
    core->onTabChange(0);
    core->onTabChange(5);
    EXPECT_FALSE(core->trafficView().trafficStopped());
}

TEST_F(MainWindowLogicTest, ClearStatsAsksAndOnlyClearsOnYes) {
    core->onInitDialog();
    core->statistics().billsAccepted[0] = 7;
    view.answers.push_back(MsgResult::No);
    core->onCommand(ids::CLEAR_STATS);
    EXPECT_EQ(view.messages[0].caption, "Warning");
    EXPECT_EQ(view.lastMessage()->text, "Erase Cancelled");
    EXPECT_EQ(core->statistics().billsAccepted[0], 7);

    view.answers.push_back(MsgResult::Yes);
    core->onCommand(ids::CLEAR_STATS);
    EXPECT_EQ(view.lastMessage()->text, "Erased");
    EXPECT_EQ(core->statistics().billsAccepted[0], 0);
    // Not started: nothing goes to the validator.
    EXPECT_EQ(core->linkData().state(REQ_CLEAR_STATS), RequestState::Idle);
}

TEST_F(MainWindowLogicTest, RequestCommandsBeforeStartChangeNothing) {
    core->onInitDialog();
    for (int id : {cmd::SETUP_REQUEST, cmd::DEVICE_ID_REQUEST, cmd::STATISTICS_REQUEST, cmd::SENSORS_REQUEST,
                   cmd::OPTICS_REQUEST, cmd::VIDEO_REQUEST})
        EXPECT_TRUE(core->onCommand(id));
    for (int k = 0; k < REQ_COUNT; ++k)
        EXPECT_EQ(core->linkData().state(static_cast<RequestKind>(k)), RequestState::Idle) << k;
    core->createLogFileCommand();
    EXPECT_EQ(view.lastMessage()->text, "Connection with validator required");
    EXPECT_EQ(view.opened[Modeless::LogFile], 0);
}

TEST_F(MainWindowLogicTest, StartShowsHowTheModeBitIsMadeAndHowAnswersAreFramed) {
    port->markParity = false;
    port->marks = true;
    start();
    const bool realtime = core->comLink().workerPriority() == link::WorkerPriority::RealTime;
    EXPECT_EQ(view.fields[ids::LINE_NOTE],
              std::string("mode bit: 2 stop bits (no mark parity); framed by checksum + "
                          "quiet line; ") +
                  (realtime ? "real-time" : "not real-time"));
    EXPECT_TRUE((view.barEnabled[{0, ids::BAR_BUTTON}]));
    EXPECT_FALSE(view.enabled[ids::START]);
    EXPECT_EQ(ui::MainWindowLogic::lineNote(true, link::Framing::MarksUnreliable),
              "mode bit: mark parity; marks unreliable: checksum + quiet line");
}

TEST_F(MainWindowLogicTest, DiagnosticRecordsAreDecodedAndTheirPageRedrawn) {
    start();
    core->onTabChange(1);
    auto& d = core->linkData();
    d.reception().diag()[0] = 0x34;
    d.reception().diag()[1] = 0x12;
    d.setState(REQ_STATISTICS, RequestState::Awaiting);
    view.invalidations.clear();
    core->onLinkNotification(RESP_STATS);
    EXPECT_EQ(core->statistics().billsAccepted[0], 4660);
    EXPECT_EQ(d.state(REQ_STATISTICS), RequestState::Idle);
    EXPECT_TRUE(view.invalidated(areas::DATA));

    d.reception().record(REQ_SENSORS).data[15] = 0x01;
    d.reception().record(REQ_SENSORS).data[16] = 0x2C;
    core->onLinkNotification(RESP_SENSORS);
    EXPECT_EQ(core->sensors().sensor[0].gain, 0x12C);
}

TEST_F(MainWindowLogicTest, ReportIsWrittenWhereTheOperatorChoseAndNotOnCancel) {
    start();
    core->createLogFileCommand();
    EXPECT_EQ(view.opened[Modeless::LogFile], 1);
    EXPECT_EQ(core->controller().logCountdown(), 25u);
    core->createLogFileCommand(); // second time: brought to the front
    EXPECT_EQ(view.activated[Modeless::LogFile], 1);

    const fs::path report = dir / "Tavik_AB12.TXT";
    view.savePaths.push_back(report.string());
    core->onLogDialogOk(false, true, false, false, "AB12");
    EXPECT_EQ(view.fileDialogProposals.back(), "Tavik_AB12.TXT");
    const std::string text = readFile(report);
    EXPECT_EQ(
        text.rfind(
            "**************************************************************\r\n  PART II - SENSORS DATA\r\n",
            0),
        0u);
    EXPECT_EQ(view.lastMessage()->text, "Log File Created at " + report.string() + " ");
    EXPECT_EQ(view.lastMessage()->caption, "Log File Location");
    EXPECT_FALSE(core->logDialogOpen());

    // Cancelling the save dialog later leaves the earlier report alone.
    fs::resize_file(report, 3);
    core->createLogFileCommand();
    core->onLogDialogOk(true, true, true, true, "AB12");
    EXPECT_EQ(fs::file_size(report), 3u);
}

TEST_F(MainWindowLogicTest, UnwritableReportIsReported) {
    start();
    core->createLogFileCommand();
    view.savePaths.push_back((dir / "missing-dir" / "r.TXT").string());
    core->onLogDialogOk(true, false, false, false, "");
    EXPECT_EQ(view.lastMessage()->icon, MsgIcon::Error);
    EXPECT_FALSE(core->lastFileError().empty());
    EXPECT_FALSE(core->logDialogOpen());
}

TEST_F(MainWindowLogicTest, DataFileRecordsEachAnswerAndAFailureStopsRecordingOnce) {
    start();
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back((dir / "traffic.txt").string());
    core->onOptionsBrowse();
    EXPECT_EQ(view.lastMessage()->text, "New File Selected.The Old File will be closed");
    core->onOptionsOk(control::EscrowOption::AutoStack);
    EXPECT_TRUE(core->dataFileOpen());
    EXPECT_EQ(core->controller().escrowOption(), control::EscrowOption::AutoStack);

    auto& d = core->linkData();
    auto exchange = [&] {
        auto rx = d.reception();
        TrafficBuffer& t = rx.traffic();
        t.clear();
        t.sent[0] = 0x33;
        t.sent[1] = 0x33;
        t.received[2] = 0x03;
        t.received[3] = 0x03;
        t.sent[3] = 0x00;
    };
    exchange();
    core->controller().setRunClockMs(100);
    d.reception().record(REQ_POLL).data[0] = 0x03;
    d.reception().record(REQ_POLL).data[1] = 0x03;
    core->onLinkNotification(RESP_POLL);
    core->closeDataFile();
    EXPECT_EQ(readFile(dir / "traffic.txt"), "time: 000000100  vmc: 33 val: 03 03 \r\n");

    // Recording into a full device: told once, recording off, polling goes on.
    core->optionsCommand();
    view.savePaths.push_back("/dev/full");
    core->onOptionsBrowse();
    core->onOptionsDataSaving(ui::DataSaving::Off);
    core->onOptionsOk(control::EscrowOption::Manual);
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    core->onOptionsOk(control::EscrowOption::Manual);
    ASSERT_TRUE(core->dataFileOpen());
    const std::size_t before = view.messages.size();
    exchange();
    core->onLinkNotification(RESP_POLL);
    exchange();
    core->onLinkNotification(RESP_POLL);
    EXPECT_EQ(view.messages.size(), before + 1);
    EXPECT_FALSE(core->dataFileOpen());
    EXPECT_EQ(core->options().appliedDataSaving, ui::DataSaving::Off);
}

TEST_F(MainWindowLogicTest, ComSelectionIsStoredAndStartIsRefusedOnAMissingPort) {
    core->onInitDialog();
    core->onComSelection(2);
    EXPECT_EQ(readFile(dir / "norvex.ini"), "Com_Port_Num:2\r\n");
    port->failOpen = true;
    core->onStart(bridge);
    EXPECT_FALSE(core->controller().started());
    // "No Connection" first; the reason, where the system shows one, on the lines after it.
    const std::string& text = view.lastMessage()->text;
    EXPECT_EQ(text.substr(0, text.find('\n')), "No Connection");
}

// Both file dialogs offer *.TXT in the same folder: a report aimed at the open recording, by any
// name, is refused with a message and writes nothing.
TEST_F(MainWindowLogicTest, ReportOntoTheOpenDataFileIsRefusedHoweverItIsNamed) {
    start();
    const fs::path traffic = dir / "MDB_DATA.TXT";
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back(traffic.string());
    core->onOptionsBrowse();
    core->onOptionsOk(control::EscrowOption::Manual);
    ASSERT_TRUE(core->dataFileOpen());
    {
        std::ofstream(traffic, std::ios::binary | std::ios::app)
            << "time: 000000100  vmc: 33 val: 03 03 \r\n";
    }
    fs::create_hard_link(traffic, dir / "alias.TXT");
    for (const fs::path& spelling : {traffic, dir / "." / "MDB_DATA.TXT", dir / "alias.TXT"}) {
        core->createLogFileCommand();
        view.savePaths.push_back(spelling.string());
        core->onLogDialogOk(true, true, true, false, "AB12");
        ASSERT_NE(view.lastMessage(), nullptr);
        EXPECT_EQ(view.lastMessage()->caption, "Log File Location");
        EXPECT_EQ(view.lastMessage()->icon, MsgIcon::Error);
        EXPECT_NE(view.lastMessage()->text.find("recorded"), std::string::npos) << view.lastMessage()->text;
        EXPECT_EQ(readFile(traffic), "time: 000000100  vmc: 33 val: 03 03 \r\n") << spelling;
        EXPECT_FALSE(core->logDialogOpen());
    }
    EXPECT_TRUE(core->dataFileOpen()) << "recording goes on";

    // Once recording has stopped, the same name takes a report.
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::Off);
    core->onOptionsOk(control::EscrowOption::Manual);
    core->createLogFileCommand();
    view.savePaths.push_back(traffic.string());
    core->onLogDialogOk(false, true, false, false, "AB12");
    EXPECT_EQ(view.lastMessage()->text, "Log File Created at " + traffic.string() + " ");
}

TEST_F(MainWindowLogicTest, OptionsShowsNoDataSavingAfterTheDataFileFailedToOpen) {
    start();
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back((dir / "missing-dir" / "MDB_DATA.TXT").string());
    core->onOptionsBrowse();
    core->onOptionsOk(control::EscrowOption::Manual);
    EXPECT_FALSE(core->dataFileOpen());
    EXPECT_EQ(view.lastMessage()->caption, "Info");
    EXPECT_NE(view.lastMessage()->text.find("Cannot create the data file"), std::string::npos);
    // What the next look at Options shows.
    EXPECT_EQ(core->options().dataSavingOption, ui::DataSaving::Off);
    EXPECT_EQ(core->options().appliedDataSaving, ui::DataSaving::Off);

    // Chosen again with a file that opens, recording starts.
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back((dir / "MDB_DATA.TXT").string());
    core->onOptionsBrowse();
    core->onOptionsOk(control::EscrowOption::Manual);
    EXPECT_TRUE(core->dataFileOpen());
    EXPECT_EQ(core->options().dataSavingOption, ui::DataSaving::ToFile);
}

TEST_F(MainWindowLogicTest, ClosingSoundsTheBeepOnceWhenTheWorkerLeavesItsLoop) {
    core->onInitDialog();
    core->onDestroy();
    EXPECT_EQ(view.beeps, 0) << "no worker ran";
    start();
    EXPECT_EQ(view.beeps, 0);
    core->onDestroy();
    EXPECT_EQ(view.beeps, 1);
    core->onDestroy();
    EXPECT_EQ(view.beeps, 1);
}

// "Next 8" pages the statistics page's bill table to types 8 to 15 and "Prev 8" back; the total
// counts all sixteen either way.
TEST_F(MainWindowLogicTest, NextEightAndPrevEightPageTheBillTable) {
    core->onInitDialog();
    core->onTabChange(1);
    for (int t = 0; t < 16; ++t)
        core->statistics().billsAccepted[static_cast<std::size_t>(t)] = static_cast<std::uint16_t>(100 + t);
    auto shownTypes = [&] {
        RecordingSurface s;
        core->onPaint(s);
        std::vector<std::string> rows;
        for (int r = 0; r < 8; ++r) {
            const auto* type = s.textAt(40, 224 + 14 * r);
            const auto* count = s.textAt(75, 224 + 14 * r);
            rows.push_back((type ? type->text : "?") + "=" + (count ? count->text : "?"));
        }
        EXPECT_TRUE(s.hasText("1720")) << "the total of all sixteen";
        return rows;
    };
    const std::vector<std::string> first{"00=100", "01=101", "02=102", "03=103",
                                         "04=104", "05=105", "06=106", "07=107"};
    const std::vector<std::string> second{"08=108", "09=109", "10=110", "11=111",
                                          "12=112", "13=113", "14=114", "15=115"};
    EXPECT_EQ(shownTypes(), first);
    view.invalidations.clear();
    core->onCommand(ids::NEXT_BILLS);
    EXPECT_EQ((view.barTexts[{1, ids::NEXT_BILLS}]), "Prev 8");
    EXPECT_TRUE(view.invalidated(areas::DATA));
    EXPECT_EQ(shownTypes(), second);
    core->onCommand(ids::NEXT_BILLS);
    EXPECT_EQ((view.barTexts[{1, ids::NEXT_BILLS}]), "Next 8");
    EXPECT_EQ(shownTypes(), first);
}

// An optics record redraws the page area on its page and on the traffic page, a video record the
// data area; on the other pages nothing.
TEST_F(MainWindowLogicTest, OpticsAndVideoRecordsRedrawTheirAreas) {
    start();
    auto& d = core->linkData();
    for (int page = 0; page < 6; ++page) {
        core->onTabChange(page);
        view.invalidations.clear();
        d.setState(REQ_OPTICS, RequestState::Awaiting);
        core->onLinkNotification(RESP_OPTICS);
        EXPECT_EQ(d.state(REQ_OPTICS), RequestState::Idle);
        const bool opticsShown = page == 3 || page == 5;
        EXPECT_EQ(view.invalidations.size(), opticsShown ? 1u : 0u) << "optics, page " << page;
        if (opticsShown) {
            EXPECT_EQ(view.invalidations[0].first, areas::PAGE);
            EXPECT_FALSE(view.invalidations[0].second) << "without erasing";
        }
        view.invalidations.clear();
        d.setState(REQ_VIDEO, RequestState::Awaiting);
        core->onLinkNotification(RESP_VIDEO);
        EXPECT_EQ(d.state(REQ_VIDEO), RequestState::Idle);
        const bool videoShown = page == 4 || page == 5;
        EXPECT_EQ(view.invalidations.size(), videoShown ? 1u : 0u) << "video, page " << page;
        if (videoShown) {
            EXPECT_EQ(view.invalidations[0].first, areas::DATA);
            EXPECT_FALSE(view.invalidations[0].second);
        }
    }
}

// A pulled adapter: the worker stops on the fault; the window stops the run, closes what can no
// longer reach the validator and lets START and the port selector be used again.
TEST_F(MainWindowLogicTest, ALinkFailureStopsTheRunAndStartOpensThePortAfresh) {
    start();
    core->controller().appendEvent(0x90); // a bill in escrow: the prompt asks
    ASSERT_TRUE(core->controller().escrowPromptOpen());
    core->linkData().setState(REQ_STATISTICS, RequestState::Requested);
    core->controller().tick();
    port->vanish();
    for (int i = 0; i < 200 && core->comLink().workerRunning(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(core->comLink().workerRunning());

    const LinkFault gone{FaultKind::Vanished, "/dev/ttyUSB0: the port reported a hang-up", 0, "/dev/ttyUSB0"};
    core->onLinkFailed(gone);
    EXPECT_FALSE(core->controller().started());
    EXPECT_FALSE(core->controller().portOpen());
    EXPECT_FALSE(core->controller().escrowPromptOpen());
    EXPECT_EQ(view.closed[Modeless::EscrowPrompt], 1);
    for (int k = 0; k < REQ_COUNT; ++k)
        EXPECT_EQ(core->linkData().state(static_cast<RequestKind>(k)), RequestState::Idle) << k;
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.enabled[ids::START]);
    EXPECT_TRUE(view.enabled[ids::COM_SELECTOR]);
    EXPECT_FALSE(core->controller().reconnectAllowed());
    EXPECT_EQ(view.fields[ids::LINE_NOTE], "");
    EXPECT_EQ(view.beeps, 1);
    EXPECT_EQ(view.lastMessage()->caption, "COM Error!");
    EXPECT_EQ(view.lastMessage()->text, "The serial port /dev/ttyUSB0 stopped working (adapter unplugged?). "
                                        "Plug it back in and press START.");
    core->onLinkFailed(gone);
    EXPECT_EQ(view.beeps, 1) << "told once";

    // START again: the port is opened anew and the start-up sequence runs from its beginning.
    bridge.reset();
    core->onStart(bridge);
    ASSERT_TRUE(core->controller().started());
    EXPECT_EQ(port->opens, 2);
    EXPECT_EQ(core->controller().startupCountdown(), 25u);
    EXPECT_EQ(core->linkData().state(REQ_RESET), RequestState::Requested);
    EXPECT_FALSE(view.enabled[ids::START]);
    EXPECT_TRUE(view.timerRunning);
}

// However the window ends (EXIT, the close box, a signal) or gives the port to the firmware
// download, a bill held in escrow is settled before the port closes: the ESCROW frame its
// decision needs goes out, whether the window had taken the escrowed answer, still had it
// waiting, or the worker had not yet handed it over.
TEST_F(MainWindowLogicTest, EndingSendsTheEscrowFrameAHeldBillNeeds) {
    using control::EscrowOption;
    using Bytes = std::vector<std::uint8_t>;
    const Bytes stack{0x35, 0x01, 0x36}, giveBack{0x35, 0x00, 0x35};
    enum class Answer { TakenByTheWindow, WaitingForTheWindow, StillWithTheWorker };
    struct Case {
        const char* what;
        EscrowOption option;
        Answer answer;
        bool accepted; // ACCEPT pressed in the prompt, the frame not yet sent
        Bytes frame;
        bool download = false; // the download takes the port instead
    };
    const Case cases[] = {
        {"prompt open", EscrowOption::Manual, Answer::TakenByTheWindow, false, giveBack},
        {"ACCEPT pressed", EscrowOption::Manual, Answer::TakenByTheWindow, true, stack},
        {"automatic return queued", EscrowOption::AutoReturn, Answer::TakenByTheWindow, false, giveBack},
        {"answer waiting for the window", EscrowOption::AutoStack, Answer::WaitingForTheWindow, false, stack},
        {"answer with the worker", EscrowOption::Manual, Answer::StillWithTheWorker, false, giveBack},
        {"answer with the worker", EscrowOption::AutoStack, Answer::StillWithTheWorker, false, stack},
        {"download", EscrowOption::Manual, Answer::TakenByTheWindow, false, giveBack, true},
        {"download", EscrowOption::AutoStack, Answer::StillWithTheWorker, false, stack, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + ", option " + std::to_string(static_cast<int>(c.option)));
        auto line = std::make_shared<test::FakePortState>();
        RecordingView shown;
        ui::MainWindowLogic logic(shown, ports, test::fakePortFactory(line));
        logic.setSettingsDirectory(dir.string());
        ui::NotificationBridge window([] {}, [&](std::uint8_t code) { logic.onLinkNotification(code); },
                                      [&](const LinkFault& fault) { logic.onLinkFailed(fault); });
        LateHandOver worker(window);
        logic.onInitDialog();
        logic.onOptionsOk(c.option);
        logic.onStart(worker);
        ASSERT_TRUE(logic.controller().started());
        // No RESET first: the first tick polls, and the validator answers with a bill in escrow.
        logic.linkData().setState(REQ_RESET, RequestState::Idle);
        if (c.answer == Answer::StillWithTheWorker) worker.delay = std::chrono::milliseconds(30);
        logic.onTimer();
        ASSERT_TRUE(line->waitWrites(1));
        line->feed({0x90, 0x90});
        ASSERT_TRUE(line->waitWrites(2)) << "acknowledged";
        if (c.answer == Answer::TakenByTheWindow) {
            const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(2);
            while (logic.controller().events().size() == 0 && std::chrono::steady_clock::now() < limit) {
                window.deliver();
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            ASSERT_EQ(logic.controller().events().size(), 1);
            if (c.accepted) logic.onEscrowAnswer(true);
        }

        if (c.download)
            logic.stopLinkForDownload([&] { window.deliver(); });
        else
            logic.onDestroy([&] { window.deliver(); });
        EXPECT_EQ(logic.controller().events().codes[0], 0x90) << "the escrowed bill was shown";
        const std::vector<Bytes> writes = line->writesSnapshot();
        ASSERT_GE(writes.size(), 2u);
        EXPECT_EQ(writes[1], Bytes{0x00});
        EXPECT_EQ(std::vector<Bytes>(writes.begin() + 2, writes.end()), std::vector<Bytes>{c.frame})
            << "one ESCROW frame, and it went out before the port closed";
        EXPECT_FALSE(line->opened);
        EXPECT_FALSE(logic.controller().escrowPromptOpen());
        EXPECT_EQ(shown.opened[Modeless::EscrowPrompt], shown.closed[Modeless::EscrowPrompt]);
        EXPECT_EQ(logic.controller().commands().codes[0], 0x35) << "shown as sent";
    }
}
