// SPDX-License-Identifier: GPL-3.0-or-later
// Things done a second time against the virtual validator: the port opened again after it was
// closed (by a second START and by the firmware loader), and each awaited request asked again.

#include "SimFixture.h"
#include "download/PosixByteChannel.h"

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreWithSim;

namespace {

std::size_t framesOf(const std::string& log, const std::string& frame) {
    return test::logLines(log, {"\"dir\":\"rx\"", "\"frame\":\"" + frame + "\""}).size();
}

// Answers of `kind` with `bytes` bytes that the virtual validator sent.
std::size_t answersOf(const std::string& log, const std::string& kind, std::size_t bytes) {
    std::size_t n = 0;
    for (const std::string& line : test::logLines(log, {"\"dir\":\"tx\"", "\"kind\":\"" + kind + "\""})) {
        const auto at = line.find("\"bytes\":\"");
        if (at == std::string::npos) continue;
        const auto end = line.find('"', at + 9);
        if (end - (at + 9) == bytes * 3 - 1) ++n;
    }
    return n;
}

} // namespace

// An ordinary user cannot open a terminal that someone left in exclusive use (root can), so this
// fails for such a user when closing leaves the flag behind.
TEST_F(CoreWithSim, ClosedPortOpensAgainForASecondStartAndForTheLoader) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_TRUE(loop->runUntil([&] { return framesOf(log, "33 33") >= 3; }, 5s));
    core->onDestroy();
    loop.reset();
    core.reset();

    // A second window on the same validator.
    view = test::RecordingView{};
    core = std::make_unique<ui::MainWindowLogic>(view, ports);
    core->setSettingsDirectory(dir.string());
    loop = std::make_unique<test::CoreLoop>(*core);
    core->onInitDialog();
    core->controller().setPollPeriod(20);
    core->onStart(loop->bridge());
    ASSERT_TRUE(core->controller().started()) << (view.lastMessage() ? view.lastMessage()->text : "");
    ASSERT_TRUE(loop->runUntil([&] { return view.fields[ids::FEATURE_LEVEL] == "01"; }, 5s));
    EXPECT_EQ(framesOf(log, "30 30"), 2u) << "each run began with its RESET";

    // The firmware download after START: the link lets the port go, the loader takes it.
    core->stopLinkForDownload();
    download::PosixByteChannel loader(sim->path());
    EXPECT_TRUE(loader.reopen(9600));
    EXPECT_TRUE(loader.reopen(38400));
    loader.close();
}

// The clock of an awaited request starts afresh when its frame leaves: a second request of each
// kind goes out once and is answered once, even at 20 ms, where the first answer's time left
// over would otherwise count against it.
TEST_F(CoreWithSim, SecondRequestOfEachAwaitedKindIsSentOnceAndAnsweredOnce) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    struct Kind {
        int command;
        RequestKind kind;
        const char* frame;
        const char* simKind;
        std::size_t answerBytes;
    };
    const Kind kinds[] = {
        {cmd::STATISTICS_REQUEST, REQ_STATISTICS, "37 FF 56 4E 54 00 DD 0B", "stats", 73},
        {cmd::SENSORS_REQUEST, REQ_SENSORS, "37 FF 56 4E 54 00 E9 17", "sensors", 28},
        {cmd::OPTICS_REQUEST, REQ_OPTICS, "37 FF 56 4E 54 00 E8 16", "optics", 337},
        {cmd::VIDEO_REQUEST, REQ_VIDEO, "37 FF 56 4E 54 00 E7 15", "video", 281},
        {cmd::DEVICE_ID_REQUEST, REQ_DEVICE_ID, "37 00 37", "ident", 30},
    };
    auto& d = core->linkData();
    for (int round = 1; round <= 2; ++round) {
        for (const Kind& k : kinds) {
            const std::size_t before = framesOf(log, k.frame);
            core->onCommand(k.command);
            ASSERT_TRUE(loop->runUntil([&] { return d.state(k.kind) == RequestState::Idle; }, 5s)) << k.frame;
            loop->runFor(100ms); // a repeat would go out within a few ticks
            EXPECT_EQ(framesOf(log, k.frame), before + 1) << k.frame << " in round " << round;
        }
    }
    for (const Kind& k : kinds) {
        // The identification was asked once more by the start-up sequence.
        const std::size_t expected = k.kind == REQ_DEVICE_ID ? 3 : 2;
        EXPECT_EQ(framesOf(log, k.frame), expected) << k.frame;
        EXPECT_EQ(answersOf(log, k.simKind, k.answerBytes), expected) << k.frame;
    }
}
