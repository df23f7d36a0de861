// SPDX-License-Identifier: GPL-3.0-or-later
// Listening to the virtual machine (norvex-sim --machine): its controller polls the virtual
// validator and a coin changer at real timing on two pseudo-terminals, and the window's logic
// listens through both, with and without the marked form.

#include "SimFixture.h"
#include "control/Format.h"
#include "link/MdbCommands.h"
#include "link/TapLine.h"
#include "support/PcapReader.h"
#include "ui/core/BusMonitor.h"

#include <fcntl.h>
#include <termios.h>

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

// Every validator event, as the controller's observer hears of it.
class EventLog : public control::ControllerObserver {
public:
    std::vector<std::uint8_t> events;
    void eventAdded(std::uint32_t, std::uint8_t code, const std::string&) override { events.push_back(code); }
    void commandAdded(std::uint32_t, std::uint8_t, const std::string&) override {}
    void setupReceived() override {}
    void identificationReceived() override {}
};

// The machine was powered before the listener came: a bus reset starts it afresh while
// listened to. Then bills and coins at their times, with a fault of the bus between them: a late
// answer, a missing ACK, a late ACK, a RET, a bad checksum, a NAK, another bus reset.
const char* const SCENARIO = R"(at 400 vmc busreset
at 1200 insert 1
at 1400 coin 2
at 1600 insert 3 noescrow
at 1800 fail poll late
at 2000 insert 0
at 2200 vmc noack 1
at 2400 insert 5
at 2600 coin 0 cashbox
at 2800 vmc lateack 1 gap=9
at 3000 insert 2
at 3200 vmc ret 1
at 3400 insert 4 noescrow
at 3800 insert 6
at 3800 fail poll badsum
at 4000 vmc nak 1
at 4200 insert 1
at 4400 coupon
at 4600 insert 7
at 4800 coin 1
at 5000 vmc busreset
at 5900 insert 9 noescrow
)";

// What the validator reports for the bills, in order: each bill escrowed and stacked by the
// machine's controller (or stacked at once), the coupon, its reset after the second bus reset.
const std::vector<std::uint8_t> EXPECTED_EVENTS = {0x91, 0x81, 0x83, 0x90, 0x80, 0x95, 0x85, 0x92, 0x82, 0x84,
                                                   0x96, 0x86, 0x91, 0x81, 0x0B, 0x97, 0x87, 0x06, 0x89};

// The machine and the window's logic; `marked` chooses the marked form of both lines.
class MachineFixture : public ::testing::Test {
protected:
    virtual bool marked() const { return false; }
    fs::path dir;
    std::string log;
    test::RecordingView view;
    link::PortMap ports;
    std::unique_ptr<test::SimProcess> sim;
    std::unique_ptr<ui::MainWindowLogic> core;
    EventLog events;
    std::string controllerPath, peripheralPath;

    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(name.begin(), name.end(), '/', '-');
        dir = fs::temp_directory_path() / ("norvex-listen-" + std::to_string(::getpid()) + "-" + name);
        log = (dir / "sim.log").string();
        fs::create_directories(dir);
        std::ofstream(dir / "scenario") << SCENARIO;
        std::vector<std::string> args{"--machine", "--poll-interval-ms", "20", "--scenario",
                                      (dir / "scenario").string()};
        if (marked()) args.push_back("--marked");
        sim = std::make_unique<test::SimProcess>(args, log);
        ASSERT_TRUE(sim->running());
        const auto comma = sim->path().find(',');
        ASSERT_NE(comma, std::string::npos) << sim->path();
        controllerPath = sim->path().substr(0, comma);
        peripheralPath = sim->path().substr(comma + 1);
        core = std::make_unique<ui::MainWindowLogic>(view, ports);
        core->setSettingsDirectory(dir.string());
        core->onInitDialog();
        core->controller().setObserver(&events);
    }
    void TearDown() override {
        if (core) core->onDestroy();
        core.reset();
        sim.reset();
        if (!HasFailure()) fs::remove_all(dir);
    }
    // The window's timer while listening.
    void listenFor(std::chrono::milliseconds d) {
        const auto end = std::chrono::steady_clock::now() + d;
        while (std::chrono::steady_clock::now() < end && core->listening()) {
            core->onTimer();
            std::this_thread::sleep_for(std::chrono::milliseconds(core->controller().pollPeriodMs()));
        }
    }
};

class ListenToMachine : public MachineFixture, public ::testing::WithParamInterface<bool> {
protected:
    bool marked() const override { return GetParam(); }
};

using PulledAdapter = MachineFixture;

} // namespace

TEST_P(ListenToMachine, FollowsTheMachineWithoutDisturbingIt) {
    ASSERT_TRUE(core->startListening(controllerPath, peripheralPath))
        << (view.lastMessage() ? view.lastMessage()->text : "");
    EXPECT_TRUE(core->controller().listening());
    listenFor(7200ms);
    const ui::MachineListener* listener = core->machineListener();
    ASSERT_NE(listener, nullptr);
    EXPECT_EQ(listener->tap().framing(BusTap::Line::Peripheral) == Framing::ModeBit, marked());
    EXPECT_EQ(listener->tap().framing(BusTap::Line::Controller) == Framing::ModeBit, marked());
    const std::string capture = (dir / "bus.pcap").string();
    std::string error;
    ASSERT_TRUE(core->busLog().saveCapture(capture, error)) << error;
    core->stopListening();
    EXPECT_FALSE(core->listening());

    // Every bill event once and in order, over a few hundred exchanges; before them only the
    // validator's resets (the one at power-up is heard or not, by when the listener came).
    const auto firstBill =
        std::find_if(events.events.begin(), events.events.end(), [](auto e) { return e != 0x06; });
    EXPECT_GE(firstBill - events.events.begin(), 1);
    EXPECT_LE(firstBill - events.events.begin(), 2);
    EXPECT_EQ(std::vector<std::uint8_t>(firstBill, events.events.end()), EXPECTED_EVENTS) << [&] {
        std::string s;
        for (auto e : events.events)
            s += control::format("%02X ", unsigned{e});
        return s;
    }();
    EXPECT_GT(core->busLog().kept().size(), 250u);
    EXPECT_EQ(core->controller().validator().programRevision[0], 'B')
        << "the identification the machine read";
    EXPECT_EQ(core->controller().validator().billCredit[1], 2) << "the SETUP the machine read";

    // Other devices by address, the faults marked.
    int changerPolls = 0, coins = 0, late = 0, missing = 0, resent = 0, lateAck = 0, ret = 0, nak = 0,
        resets = 0;
    for (const ui::KeptExchange& k : core->busLog().kept()) {
        ASSERT_TRUE(k.heard);
        const HeardExchange& h = *k.heard;
        if (h.address == ADDRESS_COIN_CHANGER && h.command[0] == 0x0B) {
            ++changerPolls;
            EXPECT_EQ(k.command, "coin changer POLL");
            if (k.answerMeaning.find("coin of type") != std::string::npos) ++coins;
        }
        late += h.has(HEARD_LATE_ANSWER);
        missing += h.has(HEARD_MISSING_ACK);
        resent += h.has(HEARD_RESEND);
        lateAck += h.has(HEARD_LATE_ACK);
        ret += h.has(HEARD_RET);
        nak += h.has(HEARD_NAK);
        resets += h.kind == HeardKind::BusReset;
    }
    EXPECT_GT(changerPolls, 100);
    EXPECT_EQ(coins, 3);
    EXPECT_GE(late, 1);
    EXPECT_GE(missing, 1);
    EXPECT_GE(resent, 2) << "after the missing ACK, the late ACK, the bad checksum's NAK";
    EXPECT_GE(lateAck, 1);
    EXPECT_EQ(ret, 1);
    EXPECT_GE(nak, 2) << "the one asked for and the bad checksum's";
    EXPECT_EQ(resets, 2);

    // Nothing ever written into either line, nor its output flushed or stopped.
    EXPECT_TRUE(test::logLines(log, {"tap_written"}).empty());
    for (const std::string& line : test::logLines(log, {"tap_control"}))
        for (const char* flag : {"flushwrite", "stop", "start"})
            EXPECT_TRUE(line.find(std::string("\"") + flag) == std::string::npos &&
                        line.find(std::string(" ") + flag) == std::string::npos)
                << line;
    // The lines keep no hang-up on close: closing drops no modem line.
    for (const std::string& path : {controllerPath, peripheralPath}) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(fd, 0) << path;
        termios t{};
        ASSERT_EQ(::tcgetattr(fd, &t), 0);
        EXPECT_EQ(t.c_cflag & HUPCL, 0u) << path;
        ::close(fd);
    }

    // The capture, read back: time order, commands from the controller, answers with the
    // address of the command they answer, the controller's replies as packets of their own.
    const test::PcapFile file = test::readPcap(capture);
    ASSERT_TRUE(file.valid) << file.problem;
    EXPECT_EQ(file.linkType, 300u);
    int lastAddress = -1; // none before the first command: answers heard before it are strays
    int acks = 0, answers = 0;
    for (std::size_t i = 0; i < file.packets.size(); ++i) {
        const test::PcapPacket& p = file.packets[i];
        if (i > 0) {
            EXPECT_GE(p.timeUs, file.packets[i - 1].timeUs) << "packet " << i;
        }
        if (p.event() == 0xFF && p.wire().size() >= 2) lastAddress = p.wire()[0] & 0xF8;
        if (p.event() == 0xFF && p.wire() == std::vector<std::uint8_t>{0x00}) ++acks;
        if (p.event() == 0xFE) {
            ++answers;
            ASSERT_GE(p.data.size(), 4u);
            if (lastAddress >= 0) {
                EXPECT_EQ(p.data[2], lastAddress) << "packet " << i;
            }
        }
    }
    EXPECT_GT(acks, 20);
    EXPECT_GT(answers, 250);
    if (HasFailure()) {
        // What was heard, beside the simulator's log in the kept directory.
        ui::BusMonitor monitor(core->busLog());
        monitor.update();
        std::string ignored;
        (void)monitor.exportCsv((dir / "heard.csv").string(), ignored);
    }
}

TEST_F(PulledAdapter, StopsListeningAndSaysSo) {
    ASSERT_TRUE(core->startListening(controllerPath, peripheralPath));
    listenFor(300ms);
    EXPECT_EQ(sim->command("unplug peripherals"), "ok");
    listenFor(2s);
    EXPECT_FALSE(core->listening());
    EXPECT_TRUE(core->listeningFailed());
    ASSERT_NE(view.lastMessage(), nullptr);
    EXPECT_EQ(view.lastMessage()->caption, "COM Error!");
    EXPECT_NE(view.lastMessage()->text.find(peripheralPath), std::string::npos) << view.lastMessage()->text;
    // Nothing stays held: the controller's line opens again at once (and one device cannot be
    // both lines).
    EXPECT_FALSE(core->startListening(controllerPath, controllerPath));
    EXPECT_NE(view.lastMessage()->text.find("same device"), std::string::npos) << view.lastMessage()->text;
    TapLine again;
    const LinkResult reopened = again.open(controllerPath);
    EXPECT_TRUE(reopened) << reopened.fault().detail;
}

INSTANTIATE_TEST_SUITE_P(PlainAndMarked, ListenToMachine, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Marked" : "Plain"; });
