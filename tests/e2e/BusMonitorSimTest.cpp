// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor against the virtual validator: what the link recorded, decoded, and frames
// typed by the technician.

#include "SimFixture.h"
#include "ui/core/BusMonitor.h"

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreWithSim;

TEST_F(CoreWithSim, MonitorShowsTheStartUpDecodedWithReplyTimes) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    ui::BusMonitor monitor(core->busLog());
    monitor.update();
    ASSERT_GT(monitor.rowCount(), 10u);
    EXPECT_EQ(core->busLog().lost(), 0u);
    bool setup = false, ident = false, enable = false;
    for (std::size_t r = 0; r < monitor.rowCount(); ++r) {
        const std::string command = monitor.cell(r, ui::COLUMN_COMMAND);
        const std::string meaning = monitor.cell(r, ui::COLUMN_MEANING);
        if (monitor.isAnswer(r) && command == "SETUP request") {
            setup = meaning.rfind("level ", 0) == 0;
            EXPECT_EQ(monitor.cell(r, ui::COLUMN_CHECKSUM), "ok");
            EXPECT_EQ(monitor.cell(r, ui::COLUMN_NOTE).rfind("ACK sent", 0), 0u);
        }
        if (monitor.isAnswer(r) && command == "DEVICE_ID request (IDENTIFICATION)")
            ident = meaning.find("BV2.14-7") != std::string::npos;
        if (!monitor.isAnswer(r) && command == "TYPE_ESCR enable (BILL TYPE)") enable = true;
        if (monitor.isAnswer(r) && monitor.exchange(r).record.sentUs >= 0) {
            // Every answer began after its frame had left, and within the 5 ms a validator has
            // (with room for a loaded machine).
            const auto& rec = monitor.exchange(r).record;
            EXPECT_GE(rec.firstUs, rec.sentUs);
            EXPECT_LT(rec.firstUs - rec.sentUs, 500000) << monitor.cell(r, ui::COLUMN_BYTES);
        }
    }
    EXPECT_TRUE(setup);
    EXPECT_TRUE(ident);
    EXPECT_TRUE(enable);
}

TEST_F(CoreWithSim, TypedFramesGoOutWhenTheLinkIsIdleAndAreRefusedOtherwise) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    EXPECT_EQ(core->sendTypedFrame("36"), "the start-up sequence is still running");
    ASSERT_NO_FATAL_FAILURE(runStartup());
    EXPECT_EQ(core->sendTypedFrame("0B 0B"), "0B is not a bill-validator command (30 to 37)");

    ui::BusMonitor monitor(core->busLog());
    EXPECT_EQ(core->sendTypedFrame("36"), "");
    EXPECT_TRUE(core->typedFramePending());
    EXPECT_EQ(core->sendTypedFrame("33"), "the frame typed before has not gone out yet");
    ASSERT_TRUE(loop->runUntil(
        [&] {
            monitor.update();
            for (std::size_t r = 0; r < monitor.rowCount(); ++r)
                if (monitor.isAnswer(r) &&
                    monitor.cell(r, ui::COLUMN_COMMAND) == "CASS_INFO request (STACKER)")
                    return true;
            return false;
        },
        5s));
    EXPECT_FALSE(core->typedFramePending());
    bool decoded = false;
    for (std::size_t r = 0; r < monitor.rowCount(); ++r)
        if (monitor.isAnswer(r) && monitor.cell(r, ui::COLUMN_COMMAND) == "CASS_INFO request (STACKER)")
            decoded = monitor.cell(r, ui::COLUMN_MEANING).rfind("stacker ", 0) == 0;
    EXPECT_TRUE(decoded);
    EXPECT_FALSE(test::logLines(log, {"\"frame\":\"36 36\""}).empty()) << "the validator got it";

    // An awaited request holds typed frames back.
    core->onCommand(cmd::STATISTICS_REQUEST);
    EXPECT_EQ(core->sendTypedFrame("33"), "a request is waiting to be sent");
    ASSERT_TRUE(
        loop->runUntil([&] { return core->linkData().state(REQ_STATISTICS) == RequestState::Awaiting; }, 2s));
    EXPECT_EQ(core->sendTypedFrame("33"), "an awaited request is in progress (DIAGNOSTICS req. statistics)");
}
