// SPDX-License-Identifier: GPL-3.0-or-later
#include "DownloadDoubles.h"
#include "PtyLoaderPeer.h"
#include "TestImage.h"
#include "download/FirmwareDownload.h"
#include "download/PosixByteChannel.h"

#include <chrono>
#include <gtest/gtest.h>

using namespace norvex::download;
using namespace norvex::download::testing;

namespace {

struct PtyRun {
    DownloadOutcome run(const ImageRecipe& recipe, DownloadOptions options = {}) {
        image = makeImage(recipe);
        options.confirmDipSwitches = false;
        options.imagePath = dir.write("PTY.TVK", image);
        PosixByteChannel channel(peer.slavePath());
        FirmwareDownload download(channel, ui, link, options);
        const auto start = std::chrono::steady_clock::now();
        const DownloadOutcome outcome = download.run();
        elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count();
        report = download.report();
        peer.stop();
        return outcome;
    }

    explicit PtyRun(LoaderBehaviour behaviour = {}) : peer(std::move(behaviour)) {}
    Events events;
    ScratchDir dir;
    RecordingUi ui{events};
    RecordingLink link{events};
    PtyLoaderPeer peer;
    std::vector<uint8_t> image;
    DownloadReport report;
    long elapsedMs = 0;
};

} // namespace

TEST(DownloadOverPty, ImageArrivesWholeAndTheCheckValueMatches) {
    PtyRun t;
    ASSERT_EQ(t.run({.groups = 2}), DownloadOutcome::Success);
    const LoaderModel& loader = t.peer.model();
    EXPECT_EQ(loader.commandBauds.front(), 9600);
    EXPECT_EQ(loader.commandBauds.back(), 38400);
    // Read back from the terminal as each byte arrived.
    EXPECT_EQ(t.peer.linesSeen(),
              (std::vector<std::string>{"9600 baud, 8 data bits, no parity, no flow control",
                                        "38400 baud, 8 data bits, no parity, no flow control"}));
    EXPECT_TRUE(std::equal(loader.header.begin(), loader.header.end(), t.image.begin()));
    ASSERT_EQ(loader.memory.size(), 64u);
    for (int i = 0; i < 64; ++i) {
        const auto& data = loader.memory.at(testRecordAddress(i));
        EXPECT_TRUE(std::equal(data.begin(), data.end(), t.image.begin() + 128 + 133 * i + 4))
            << "record " << i;
    }
    EXPECT_GE(t.elapsedMs, 2210); // the loader's own waits
    EXPECT_EQ(t.ui.steps, 64);
}

TEST(DownloadOverPty, RepeatsAndLateAnswersDoNotDisturbTheTransfer) {
    PtyRun t({.headerNaks = 3, .recordNaks = {{0, 2}, {40, 100}}, .lateAnswerRecord = 7});
    DownloadOptions fast;
    fast.timing.checkValueDelayMs = 50;
    ASSERT_EQ(t.run({.groups = 2}, fast), DownloadOutcome::Success);
    EXPECT_EQ(t.peer.model().headerFrames, 4);
    EXPECT_EQ(t.peer.model().recordFrames.at(40), 101);
    EXPECT_EQ(t.peer.model().recordFrames.at(7), 2);
}

TEST(DownloadOverPty, SilentLoaderFailsTheHeaderWithinItsTimeouts) {
    PtyRun t({.silentAfterBlock = true});
    DownloadOptions fast;
    fast.timing.blockTimeoutMs = 5;
    fast.timing.blockAckTimeoutMs = 5;
    ASSERT_EQ(t.run({.groups = 1}, fast), DownloadOutcome::HeaderFailed);
    EXPECT_EQ(t.peer.model().headerFrames, 100);
    EXPECT_LT(t.elapsedMs, 200 + 10 + 100 * 10 + 1500);
}
