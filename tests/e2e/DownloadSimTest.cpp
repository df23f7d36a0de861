// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware download against the virtual validator's loader on a pseudo-terminal.

#include "DownloadDoubles.h"
#include "TestImage.h"
#include "download/DownloadTexts.h"
#include "download/FirmwareDownload.h"
#include "download/PosixByteChannel.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

using namespace norvex::download;
using namespace norvex::download::testing;
using norvex::test::SimProcess;

namespace {

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct LoaderRun {
    DownloadOutcome outcome;
    Events events;
};

LoaderRun download(SimProcess& sim, const std::string& imagePath) {
    LoaderRun r{};
    PosixByteChannel channel(sim.path());
    RecordingUi ui(r.events);
    RecordingLink link(r.events);
    DownloadOptions options;
    options.confirmDipSwitches = false;
    options.imagePath = imagePath;
    options.timing.speedChangeDelayMs = 50;
    options.timing.checkValueDelayMs = 50;
    FirmwareDownload procedure(channel, ui, link, options);
    r.outcome = procedure.run();
    return r;
}

bool saw(const Events& events, const std::string& fragment) {
    for (const auto& e : events)
        if (e.find(fragment) != std::string::npos) return true;
    return false;
}

} // namespace

TEST(DownloadWithSim, ImageArrivesByteForByteAndTheCheckValueMatches) {
    ScratchDir dir;
    ImageRecipe recipe;
    recipe.groups = 2;
    recipe.checkValue = 0x5AA5;
    const auto image = makeImage(recipe);
    const std::string imagePath = dir.write("FW.TVK", image);
    const std::string dump = dir.path() + "/dump.bin";
    SimProcess sim({"--loader", "--loader-check", "header", "--loader-dump", dump});
    ASSERT_TRUE(sim.running());

    const LoaderRun r = download(sim, imagePath);
    EXPECT_EQ(r.outcome, DownloadOutcome::Success);
    EXPECT_TRUE(saw(r.events, DOWNLOAD_COMPLETE));

    // The loader kept the header and, per record, its address and data: bytes 1..131 of each
    // 133-byte record.
    std::vector<uint8_t> expected(image.begin(), image.begin() + 128);
    for (int i = 0; i < 64; ++i) {
        const auto rec = image.begin() + 128 + 133 * i;
        expected.insert(expected.end(), rec + 1, rec + 132);
    }
    EXPECT_EQ(readBytes(dump), expected);
}

TEST(DownloadWithSim, WrongCheckValueIsACrcFailure) {
    ScratchDir dir;
    ImageRecipe recipe;
    recipe.groups = 1;
    recipe.checkValue = 0x1234;
    const std::string imagePath = dir.write("FW.TVK", makeImage(recipe));
    SimProcess sim({"--loader", "--loader-check", "4321"});
    ASSERT_TRUE(sim.running());
    const LoaderRun r = download(sim, imagePath);
    EXPECT_EQ(r.outcome, DownloadOutcome::CrcMismatch);
    EXPECT_TRUE(saw(r.events, CHECK_VALUE_FAILED));
}

TEST(DownloadWithSim, RefusedFirstHandshakeEndsWithNoConnection) {
    ScratchDir dir;
    const std::string imagePath = dir.write("FW.TVK", makeImage(ImageRecipe{}));
    SimProcess sim({"--loader"});
    ASSERT_TRUE(sim.running());
    ASSERT_EQ(sim.command("fail hello nak"), "ok");
    const LoaderRun r = download(sim, imagePath);
    EXPECT_EQ(r.outcome, DownloadOutcome::NoConnection);
    EXPECT_TRUE(saw(r.events, "message 'No connection' Info"));
}

TEST(DownloadWithSim, AdapterPulledDuringTheRecordsAbortsTheDownload) {
    ScratchDir dir;
    ImageRecipe recipe;
    recipe.groups = 1;
    const std::string imagePath = dir.write("FW.TVK", makeImage(recipe));
    SimProcess sim({"--loader", "--loader-check", "header"});
    ASSERT_TRUE(sim.running());
    ASSERT_EQ(sim.command("fail record vanish then=stay"), "ok");
    const auto t0 = std::chrono::steady_clock::now();
    const LoaderRun r = download(sim, imagePath);
    EXPECT_EQ(r.outcome, DownloadOutcome::RecordFailed);
    EXPECT_TRUE(saw(r.events, "message 'Download aborted' Info ok error"));
    // A vanished port fails each attempt at once instead of waiting out its time-outs.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));
}
