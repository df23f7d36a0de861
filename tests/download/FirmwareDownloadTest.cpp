// SPDX-License-Identifier: GPL-3.0-or-later
#include "download/FirmwareDownload.h"
#include "DownloadDoubles.h"
#include "TestImage.h"
#include "download/DownloadTexts.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

using namespace norvex::download;
using norvex::MsgResult;
using namespace norvex::download::testing;

namespace {

class Download : public ::testing::Test {
protected:
    DownloadOutcome run(LoaderBehaviour behaviour = {}, ImageRecipe recipe = {},
                        std::function<void()> tweak = {}) {
        image = makeImage(recipe);
        ui.chosenPath = dir.write("FW_TEST.TVK", image);
        channel = std::make_unique<ScriptedChannel>(events, std::move(behaviour));
        if (tweak) tweak();
        FirmwareDownload download(*channel, ui, link, options);
        const DownloadOutcome outcome = download.run();
        report = download.report();
        return outcome;
    }
    int count(uint8_t code) const {
        return static_cast<int>(std::count(model().commands.begin(), model().commands.end(), code));
    }
    const LoaderModel& model() const { return channel->model; }
    std::string lastEvent() const { return events.empty() ? "" : events.back(); }

    Events events;
    ScratchDir dir;
    RecordingUi ui{events};
    RecordingLink link{events};
    DownloadOptions options;
    std::unique_ptr<ScriptedChannel> channel;
    std::vector<uint8_t> image;
    DownloadReport report;
};

} // namespace

TEST_F(Download, FullTransferFollowsTheStepsInOrder) {
    ASSERT_EQ(run({}, {.groups = 1}), DownloadOutcome::Success);

    EXPECT_EQ(events,
              (Events{"stop link",
                      "message 'Set DIP switches down, RE-START validator,and click on OK to continue' Info "
                      "ok-cancel none",
                      "open 9600", "choose file", "invalidate", "progress open", "close", "open 38400",
                      "progress caption", "progress close", "close",
                      "message 'DOWNLOAD complete.Set DIP Switch back to normal and RE-START Validator' Info "
                      "ok information"}));
    // Handshake and speed change at 9600, everything else at 38400; 32 records in file order.
    std::vector<uint8_t> expected{0x08, 0x83, 0x75, 0x20};
    expected.insert(expected.end(), 32, 0x0C);
    expected.push_back(0x84);
    EXPECT_EQ(model().commands, expected);
    EXPECT_EQ(model().commandBauds[1], 9600);
    EXPECT_EQ(model().commandBauds[2], 38400);
    EXPECT_EQ(model().speedByte, 0x02);
    EXPECT_TRUE(std::equal(model().header.begin(), model().header.end(), image.begin()));
    ASSERT_EQ(model().acceptedOrder.size(), 32u);
    for (int i = 0; i < 32; ++i)
        EXPECT_EQ(model().acceptedOrder[i], testRecordAddress(i));

    ASSERT_TRUE(ui.request);
    EXPECT_EQ(ui.request->defaultExtension, "TVK");
    EXPECT_EQ(ui.request->initialName, "*.TVK");
    EXPECT_EQ(ui.request->filter, "VNTprogram_file(*.TVK)|*.TVK|");
    EXPECT_EQ(ui.caption, "file name: FW_TEST.TVK");
    EXPECT_EQ(ui.rangeLower, 1);
    EXPECT_EQ(ui.rangeUpper, 33);
    EXPECT_EQ(ui.step, 1);
    EXPECT_EQ(ui.steps, 32);

    // The loader's waits, cut into slices with the windows repainted in between.
    EXPECT_EQ(channel->totalDelay(), 200 + 10 + 2000);
    EXPECT_LE(*std::max_element(channel->delays.begin(), channel->delays.end()), LoaderClient::WAIT_SLICE_MS);
    EXPECT_GE(ui.pumps, static_cast<int>(channel->delays.size()) + 32);
}

TEST_F(Download, GroupTableDecidesHowManyRecordsGo) {
    // Empty table: straight from the header to the check value.
    ASSERT_EQ(run({}, {.groups = 0}), DownloadOutcome::Success);
    EXPECT_EQ(model().commands, (std::vector<uint8_t>{0x08, 0x83, 0x75, 0x20, 0x84}));
    EXPECT_EQ(ui.rangeUpper, 1);
    EXPECT_EQ(ui.steps, 0);

    // Bytes after the first 0xFF do not count, whatever they hold.
    ASSERT_EQ(run({}, {.groups = 3, .afterTerminator = 0x07}), DownloadOutcome::Success);
    EXPECT_EQ(count(0x0C), 96);

    // No 0xFF at all: 55 groups, 1760 records.
    ui.steps = 0;
    ASSERT_EQ(run({}, {.terminateTable = false}), DownloadOutcome::Success);
    EXPECT_EQ(count(0x0C), 1760);
    EXPECT_EQ(model().memory.size(), 1760u);
    EXPECT_EQ(ui.rangeUpper, 1761);
    EXPECT_EQ(ui.steps, 1760);
}

TEST_F(Download, RecordGetsOneHundredAndOneAttemptsHeaderOneHundred) {
    ASSERT_EQ(run({.recordNaks = {{5, 100}}}), DownloadOutcome::Success);
    EXPECT_EQ(model().recordFrames.at(5), 101);

    ASSERT_EQ(run({.recordNaks = {{5, 101}}}), DownloadOutcome::RecordFailed);
    EXPECT_EQ(model().recordFrames.at(5), 101);
    EXPECT_EQ(report.failedRecord, 5);
    EXPECT_EQ(count(0x84), 0);

    ASSERT_EQ(run({.headerNaks = 99}), DownloadOutcome::Success);
    EXPECT_EQ(model().headerFrames, 100);

    ASSERT_EQ(run({.headerNaks = 100}), DownloadOutcome::HeaderFailed);
    EXPECT_EQ(model().headerFrames, 100);
    EXPECT_EQ(count(0x0C), 0);
}

TEST_F(Download, WrongAnswerToACommandFrameEndsWithoutRepeat) {
    ASSERT_EQ(run({.refuseHeader = true}), DownloadOutcome::HeaderFailed);
    EXPECT_EQ(model().headerFrames, 1);

    ASSERT_EQ(run({.refuseRecord = 3}), DownloadOutcome::RecordFailed);
    EXPECT_EQ(model().recordFrames.at(3), 1);
    EXPECT_EQ(report.recordsSent, 3);
}

TEST_F(Download, CheckValueIsComparedByteByByteAsReceived) {
    const ImageRecipe recipe{.groups = 0, .checkValue = 0x1234};
    EXPECT_EQ(run({.checkValueAnswer = std::vector<uint8_t>{0x12, 0x34}}, recipe), DownloadOutcome::Success);
    EXPECT_EQ(run({.checkValueAnswer = std::vector<uint8_t>{0x34, 0x12}}, recipe),
              DownloadOutcome::CrcMismatch);
    EXPECT_EQ(run({.checkValueAnswer = std::vector<uint8_t>{0x12, 0x35}}, recipe),
              DownloadOutcome::CrcMismatch);
    EXPECT_EQ(run({.checkValueAnswer = std::vector<uint8_t>{0x13, 0x34}}, recipe),
              DownloadOutcome::CrcMismatch);
    // One byte is no check value; it is not compared with what a buffer happened to hold.
    EXPECT_EQ(run({.checkValueAnswer = std::vector<uint8_t>{0x12}}, recipe), DownloadOutcome::NoCheckValue);
    EXPECT_EQ(lastEvent(), "message 'CRC Test failure. ' Info ok error");
}

TEST_F(Download, EveryOutcomeIsReportedAndLeavesNothingOpen) {
    struct Case {
        const char* name;
        LoaderBehaviour loader;
        std::function<void()> tweak;
        DownloadOutcome outcome;
        std::string finalMessage;
    };
    const std::string aborted = "message 'Download aborted' Info ok none";
    const std::string abortedError = "message 'Download aborted' Info ok error";
    const std::string noConnection = "message 'No connection' Info ok none";
    const std::string crc = "message 'CRC Test failure. ' Info ok error";
    const std::vector<Case> cases{
        {"prompt cancelled",
         {},
         [&] { ui.promptAnswer = MsgResult::Cancel; },
         DownloadOutcome::Aborted,
         aborted},
        {"file selection cancelled", {}, [&] { ui.chosenPath.reset(); }, DownloadOutcome::Aborted, aborted},
        {"no port at 9600",
         {},
         [&] { channel->failingBauds = {9600}; },
         DownloadOutcome::NoConnection,
         noConnection},
        {"handshake answered wrongly",
         {.handshakeAnswer = {'#', 'N'}},
         {},
         DownloadOutcome::NoConnection,
         noConnection},
        {"handshake unanswered", {.handshakeAnswer = {}}, {}, DownloadOutcome::NoConnection, noConnection},
        {"no port at 38400",
         {},
         [&] { channel->failingBauds = {38400}; },
         DownloadOutcome::HeaderFailed,
         abortedError},
        {"header refused", {.refuseHeader = true}, {}, DownloadOutcome::HeaderFailed, abortedError},
        {"record refused", {.refuseRecord = 0}, {}, DownloadOutcome::RecordFailed, abortedError},
        {"check value differs",
         {.checkValueAnswer = std::vector<uint8_t>{0, 0}},
         {},
         DownloadOutcome::CrcMismatch,
         crc},
        {"check value missing",
         {.checkValueAnswer = std::vector<uint8_t>{}},
         {},
         DownloadOutcome::NoCheckValue,
         crc},
        {"success",
         {},
         {},
         DownloadOutcome::Success,
         "message 'DOWNLOAD complete.Set DIP Switch back to normal and RE-START Validator' Info ok "
         "information"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        events.clear();
        ui.promptAnswer = MsgResult::Ok;
        EXPECT_EQ(run(c.loader, {.groups = 1}, c.tweak), c.outcome);
        EXPECT_EQ(report.outcome, c.outcome);
        EXPECT_EQ(events.front(), "stop link");
        // The final message comes last, after the progress window and the line have closed.
        EXPECT_EQ(lastEvent(), c.finalMessage);
        EXPECT_FALSE(ui.progressOpen);
        EXPECT_FALSE(channel->isOpen());
    }
}

TEST_F(Download, PortFailureAt9600IsReportedAndTheDownloadGoesOn) {
    ASSERT_EQ(run({}, {}, [&] { channel->failingBauds = {9600}; }), DownloadOutcome::NoConnection);
    EXPECT_EQ(events[2], "open 9600 failed");
    EXPECT_EQ(events[3], "message 'No Connection' Info ok none");
    EXPECT_EQ(events[4], "choose file");
    EXPECT_EQ(channel->bytesWritten, 0u);
    EXPECT_EQ(channel->timeouts, 0); // the dead line answers at once, it is not waited for

    // Where the system tells why, the reason follows "No Connection".
    events.clear();
    ASSERT_EQ(run({}, {},
                  [&] {
                      channel->failingBauds = {9600};
                      channel->failureReason = "/dev/ttyUSB0 is not there: is the adapter plugged in?";
                  }),
              DownloadOutcome::NoConnection);
    EXPECT_EQ(events[3],
              "message 'No Connection\n/dev/ttyUSB0 is not there: is the adapter plugged in?' Info ok none");
}

TEST_F(Download, UnusableImageAbortsBeforeTheLoaderHearsAnything) {
    for (const bool missing : {true, false}) {
        SCOPED_TRACE(missing ? "missing" : "short");
        events.clear();
        run({}, {.groups = 2}, [&] {
            image.pop_back();
            ui.chosenPath = missing ? dir.path() + "/absent.TVK" : dir.write("SHORT.TVK", image);
        });
        EXPECT_EQ(report.outcome, DownloadOutcome::ImageUnusable);
        EXPECT_EQ(channel->bytesWritten, 0u);
        EXPECT_EQ(std::count(events.begin(), events.end(), "progress open"), 0);
        EXPECT_EQ(lastEvent(), "message 'Download aborted' Info ok error");
    }
}

TEST_F(Download, FailedReopenAt38400FailsTheHeaderAtOnce) {
    ASSERT_EQ(run({}, {}, [&] { channel->failingBauds = {38400}; }), DownloadOutcome::HeaderFailed);
    EXPECT_EQ(report.lastAttempts, 1);
    EXPECT_EQ(channel->bytesWritten, 4u + 5u); // the handshake and the speed change, nothing after
    EXPECT_EQ(channel->timeouts, 0);
    EXPECT_GT(channel->refusedCalls, 0);
}

TEST_F(Download, SilentLoaderCostsOneTimeoutPerReadNotPerByte) {
    ASSERT_EQ(run({.silentAfterBlock = true}), DownloadOutcome::HeaderFailed);
    EXPECT_EQ(model().headerFrames, 100);
    EXPECT_EQ(channel->timeouts, 200); // the 128 returned bytes and the acknowledge, per attempt
    EXPECT_EQ(channel->timeoutsWaited,
              100L * (options.timing.blockTimeoutMs + options.timing.blockAckTimeoutMs));
}

TEST_F(Download, LateAnswerIsDiscardedBeforeTheRepeat) {
    // "#N#A": the "#A" must not be taken for the answer to the repeated frame.
    ASSERT_EQ(run({.lateAnswerRecord = 4}), DownloadOutcome::Success);
    EXPECT_EQ(model().recordFrames.at(4), 2);
    EXPECT_EQ(report.traffic.bytesDiscarded, 2u);
}

TEST_F(Download, BatchModeRunsWithoutPrompts) {
    options.confirmDipSwitches = false;
    ASSERT_EQ(run({}, {},
                  [&] {
                      options.imagePath = ui.chosenPath;
                      ui.chosenPath.reset();
                  }),
              DownloadOutcome::Success);
    EXPECT_EQ(events[1], "open 9600");
    EXPECT_FALSE(ui.request);
}
