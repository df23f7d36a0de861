// The controller core with the real serial link against the virtual validator on a
// pseudo-terminal: two independent readings of the protocol meet on the wire.

#include "support/CoreLoop.h"
#include "support/RecordingView.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreLoop;
using norvex::test::RecordingView;
using norvex::test::SimProcess;
namespace fs = std::filesystem;

namespace {

class CoreWithSim : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("norvex-e2e-" + std::to_string(::getpid()) + "-" +
                                                ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string log = (dir / "sim.log").string();
    std::unique_ptr<SimProcess> sim;
    RecordingView view;
    PortMap ports;
    std::unique_ptr<ui::CMainDialog> core;
    std::unique_ptr<CoreLoop> loop;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        if (core) core->onDestroy();
        loop.reset();
        core.reset();
        sim.reset();
        if (!HasFailure()) fs::remove_all(dir);
    }

    void startWith(std::vector<std::string> simArgs, unsigned pollMs) {
        sim = std::make_unique<SimProcess>(simArgs, log);
        ASSERT_TRUE(sim->running());
        ports.set(0, sim->path());
        core = std::make_unique<ui::CMainDialog>(view, ports);
        core->setSettingsDirectory(dir.string());
        loop = std::make_unique<CoreLoop>(*core);
        core->onInitDialog();
        core->controller().setPollPeriod(pollMs);
        core->onStart(loop->bridge());
        ASSERT_TRUE(core->controller().started()) << (view.lastMessage() ? view.lastMessage()->text : "");
    }

    // Start-up sequence done: SETUP and identification in, bill types enabled.
    void runStartup() {
        ASSERT_TRUE(loop->runUntil(
            [&] {
                return view.fields[ids::PROGRAM_REVISION] == "BV2.14-7" && core->controller().validator().billMask != 0 &&
                       !core->linkData().slotBusy();
            },
            10s));
        loop->runFor(200ms);
    }

    int eventsWithCode(std::uint8_t code) const {
        int n = 0;
        auto& h = const_cast<ui::CMainDialog&>(*core).controller().events();
        for (int i = 0; i < 8; ++i)
            if (h.codes[static_cast<std::size_t>(i)] == code) ++n;
        return n;
    }
};

} // namespace

TEST_F(CoreWithSim, StartFillsThePropertiesAndEnablesTheReportedTypes) {
    startWith({}, 20);
    runStartup();
    EXPECT_EQ(view.fields[ids::FEATURE_LEVEL], "01");
    EXPECT_EQ(view.fields[ids::COUNTRY_CODE], "1978");
    EXPECT_EQ(view.fields[ids::SCALING_FACTOR], "100");
    EXPECT_EQ(view.fields[ids::DECIMAL_PLACES], "2");
    EXPECT_EQ(view.fields[ids::STACKER_CAPACITY], "400");
    EXPECT_EQ(view.fields[ids::MANUFACTURER], "VNT");
    EXPECT_EQ(view.cells[0][0], " Type 00  001");
    EXPECT_EQ(view.cells[6][0], " Type 06  100");
    for (int t = 0; t < 7; ++t) {
        EXPECT_TRUE(view.boxes[t]) << t;
        EXPECT_EQ(view.cells[t][1], "EN") << t;
    }
    EXPECT_FALSE(view.boxes[7]);
    // The validator saw RESET first, then the enable of types 0..6.
    const auto frames = test::logLines(log, {"\"dir\":\"rx\"", "\"frame\""});
    ASSERT_FALSE(frames.empty());
    EXPECT_NE(frames.front().find("30 30"), std::string::npos);
    EXPECT_FALSE(test::logLines(log, {"\"frame\":\"34 00 7F 00 00 B3\""}).empty());
}

TEST_F(CoreWithSim, EscrowedBillOpensOnePromptAndAcceptStacksIt) {
    startWith({}, 20);
    runStartup();
    ASSERT_EQ(sim->command("insert 2 escrow"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return view.opened[Modeless::EscrowPrompt] > 0; }, 5s));
    loop->runFor(300ms); // more POLLs while the prompt is open: still one prompt
    EXPECT_EQ(view.opened[Modeless::EscrowPrompt], 1);
    core->onEscrowAnswer(true);
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x82) == 1; }, 5s));
    EXPECT_FALSE(test::logLines(log, {"\"frame\":\"35 01 36\""}).empty());
    EXPECT_EQ(eventsWithCode(0x92), 1);
    EXPECT_EQ(core->controller().validator().lastCredit, 5);
}

TEST_F(CoreWithSim, NoStatusIsDeliveredTwice) {
    startWith({}, 20);
    runStartup();
    core->controller().setEscrowOption(control::ESCROW_AUTO_STACK);
    for (const char* c : {"insert 0", "insert 1", "insert 3", "coupon", "insert 4 escrow"})
        ASSERT_EQ(sim->command(c), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x84) == 1; }, 5s));
    loop->runFor(300ms);
    EXPECT_EQ(eventsWithCode(0x80), 1);
    EXPECT_EQ(eventsWithCode(0x81), 1);
    EXPECT_EQ(eventsWithCode(0x83), 1);
    EXPECT_EQ(eventsWithCode(0x0B), 1);
    EXPECT_EQ(eventsWithCode(0x94), 1);
    // Every POLL answer that carried data was acknowledged in time.
    EXPECT_TRUE(test::logLines(log, {"\"ack\":\"timeout\""}).empty());
}

TEST_F(CoreWithSim, EachDiagnosticsRecordArrivesOnItsFirstRequestAtTwentyMilliseconds) {
    startWith({}, 20);
    runStartup();
    for (int id : {ui::cmd::STATISTICS_REQUEST, ui::cmd::SENSORS_REQUEST, ui::cmd::OPTICS_REQUEST,
                   ui::cmd::VIDEO_REQUEST}) {
        core->onCommand(id);
    }
    auto& d = core->linkData();
    ASSERT_TRUE(loop->runUntil(
        [&] {
            for (RequestKind k : {REQ_STATISTICS, REQ_SENSORS, REQ_OPTICS, REQ_VIDEO})
                if (d.state(k) != STATE_IDLE) return false;
            return true;
        },
        10s));
    for (const char* fn : {"E9", "E8", "E7", "DD"}) {
        const auto sent = test::logLines(log, {"\"dir\":\"rx\"", std::string("\"frame\":\"37 FF 56 4E 54 00 ") + fn});
        EXPECT_EQ(sent.size(), 1u) << fn;
    }
    // Values as the virtual validator encodes them.
    EXPECT_EQ(core->statistics().billsAccepted[0], 0x0102);
    EXPECT_EQ(core->sensors().sensor[2].gain, 0x0123); // the first group is "Front right"
    EXPECT_EQ(core->optics().reflWhite[0][0], 100);
}
