// SPDX-License-Identifier: GPL-3.0-or-later
// The controller core with the real serial link against the virtual validator on a
// pseudo-terminal: two independent readings of the protocol meet on the wire.

#include "SimFixture.h"

#include <thread>

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreWithSim;

TEST_F(CoreWithSim, StartFillsThePropertiesAndEnablesTheReportedTypes) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
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
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
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

// Closing the window (EXIT, Escape, the close box) while a bill is held: REJECT goes out first,
// as the prompt's own close box would send it, instead of the validator keeping the bill.
TEST_F(CoreWithSim, ClosingWithABillInEscrowReturnsItFirst) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    ASSERT_EQ(sim->command("insert 3 escrow"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return view.opened[Modeless::EscrowPrompt] > 0; }, 5s));
    core->onDestroy();
    EXPECT_EQ(view.closed[Modeless::EscrowPrompt], 1);
    EXPECT_FALSE(core->comLink().workerRunning());
    EXPECT_EQ(view.beeps, 1) << "the worker left its loop";
    auto returned = [&] { return test::logLines(log, {"\"dir\":\"rx\"", "\"frame\":\"35 00 35\""}).size(); };
    for (int i = 0; i < 100 && returned() == 0; ++i)
        std::this_thread::sleep_for(10ms);
    EXPECT_EQ(returned(), 1u);
    EXPECT_TRUE(test::logLines(log, {"\"frame\":\"35 01 36\""}).empty());
}

TEST_F(CoreWithSim, NoStatusIsDeliveredTwice) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    core->controller().setEscrowOption(control::EscrowOption::AutoStack);
    for (const char* c : {"insert 0", "insert 1", "insert 3", "coupon", "insert 4 escrow"})
        ASSERT_EQ(sim->command(c), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x84) == 1; }, 5s));
    loop->runFor(300ms);
    EXPECT_EQ(eventsWithCode(0x80), 1);
    EXPECT_EQ(eventsWithCode(0x81), 1);
    EXPECT_EQ(eventsWithCode(0x83), 1);
    EXPECT_EQ(eventsWithCode(0x0B), 1);
    EXPECT_EQ(eventsWithCode(0x94), 1);
    expectEveryResendRecognised();
}

// Two bills of type 0 between two polls: the validator answers 80 80 00, whose second byte equals
// the sum before it.
TEST_F(CoreWithSim, TwoBillsStackedBetweenPollsAreTwoEvents) {
    for (const bool marked : {false, true}) {
        SCOPED_TRACE(marked ? "marked" : "quiet line");
        ASSERT_NO_FATAL_FAILURE(
            restartWith(marked ? std::vector<std::string>{"--marked"} : std::vector<std::string>{}, 20));
        ASSERT_NO_FATAL_FAILURE(runStartup());
        ASSERT_EQ(sim->commands({"insert 0 noescrow", "insert 0 noescrow"}), "ok");
        ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x80) >= 2; }, 5s));
        loop->runFor(200ms);
        EXPECT_EQ(eventsWithCode(0x80), 2);
        EXPECT_EQ(view.cells[0][3], "002");
        expectEveryResendRecognised();
        EXPECT_EQ(core->comLink().framing(), marked ? link::Framing::ModeBit : link::Framing::QuietLine);
        EXPECT_NE(
            view.fields[ids::LINE_NOTE].find(marked ? "framed by the mode bit" : "checksum + quiet line"),
            std::string::npos)
            << view.fields[ids::LINE_NOTE];
    }
}

TEST_F(CoreWithSim, EachDiagnosticsRecordArrivesOnItsFirstRequestAtTwentyMilliseconds) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    for (int id : {cmd::STATISTICS_REQUEST, cmd::SENSORS_REQUEST, cmd::OPTICS_REQUEST, cmd::VIDEO_REQUEST}) {
        core->onCommand(id);
    }
    auto& d = core->linkData();
    ASSERT_TRUE(loop->runUntil(
        [&] {
            for (RequestKind k : {REQ_STATISTICS, REQ_SENSORS, REQ_OPTICS, REQ_VIDEO})
                if (d.state(k) != RequestState::Idle) return false;
            return true;
        },
        10s));
    for (const char* fn : {"E9", "E8", "E7", "DD"}) {
        const auto sent =
            test::logLines(log, {"\"dir\":\"rx\"", std::string("\"frame\":\"37 FF 56 4E 54 00 ") + fn});
        if (test::SimProcess::slowBuild()) {
            EXPECT_GE(sent.size(), 1u) << fn;
            EXPECT_LE(sent.size(), 2u) << fn;
        } else {
            EXPECT_EQ(sent.size(), 1u) << fn;
        }
    }
    // Values as the virtual validator encodes them.
    EXPECT_EQ(core->statistics().billsAccepted[0], 0x0102);
    EXPECT_EQ(core->sensors().sensor[2].gain, 0x0123); // the first group is "Front right"
    EXPECT_EQ(core->optics().reflWhite[0][0], 100);
}

// Bills at MDB's real 5 ms acknowledge window: however late an acknowledge leaves on a busy
// machine, and wherever a driver stops marking the bytes of an answer, every bill stacked is
// counted once.
TEST_F(CoreWithSim, EveryBillStackedIsCountedOnceAtTheRealAckWindow) {
    const std::vector<std::vector<std::string>> runs = {{}, {"--marked"}};
    for (const auto& args : runs) {
        const bool marked = !args.empty();
        SCOPED_TRACE(marked ? "marked, marks stopping inside answers" : "quiet line");
        ASSERT_NO_FATAL_FAILURE(restartWith(args, 20));
        ASSERT_NO_FATAL_FAILURE(runStartup());
        if (marked) {
            ASSERT_EQ(sim->command("fail poll unmarked always"), "ok");
        }
        int inserted = 0;
        for (int i = 0; i < 150; ++i) {
            // Now and then two of a kind between two polls: 80 80 00, a status byte equal to the sum.
            const int type = i % 7;
            const std::string bill = "insert " + std::to_string(type) + " noescrow";
            ASSERT_EQ(i % 10 == 0 ? sim->commands({bill, bill}) : sim->command(bill), "ok");
            inserted += i % 10 == 0 ? 2 : 1;
            loop->runFor(30ms);
        }
        auto counted = [&] {
            int n = 0;
            for (int t = 0; t < 16; ++t)
                n += core->controller().validator().billCount[static_cast<std::size_t>(t)];
            return n;
        };
        ASSERT_TRUE(loop->runUntil([&] { return counted() >= inserted; }, 10s)) << counted();
        loop->runFor(300ms);
        EXPECT_EQ(counted(), inserted);
        EXPECT_EQ(static_cast<int>(test::logLines(log, {"\"result\":\"stacked\""}).size()), inserted);
        expectEveryResendRecognised();
        if (marked) {
            EXPECT_EQ(core->comLink().framing(), link::Framing::MarksUnreliable);
            EXPECT_NE(view.fields[ids::LINE_NOTE].find("marks unreliable"), std::string::npos);
        }
    }
}
