// SPDX-License-Identifier: GPL-3.0-or-later
// --pcap: a capture of a run against the virtual validator, walked by our own pcap reader and
// compared with what the virtual validator logged.

#include "BatchHarness.h"
#include "support/PcapReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

using namespace batchtest;
using namespace std::chrono_literals;
using norvex::batch::batch_status::FILE_FAILED;
using norvex::batch::batch_status::OK;

namespace {

std::string hex(const std::vector<std::uint8_t>& b) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += DIGITS[b[i] >> 4];
        s += DIGITS[b[i] & 15];
    }
    return s;
}

} // namespace

TEST(BatchCapture, EveryFrameAndAnswerOfTheValidatorsLogIsInTheCaptureInOrder) {
    TempDir dir;
    const fs::path log = dir / "sim.log", capture = dir / "bus.pcap";
    SimProcess sim({"--log", log.string()});
    // A bill, escrowed and returned, while the run polls.
    std::thread bill([&] {
        std::this_thread::sleep_for(1500ms);
        sim.command("insert 1 escrow");
    });
    DirectRun run(sim.port() + Args{"--poll-ms", "50", "--pcap", capture.string(), "--seconds", "3"}, dir);
    bill.join();
    ASSERT_EQ(run.status, OK) << run.err;

    const norvex::test::PcapFile pcap = norvex::test::readPcap(capture.string());
    ASSERT_TRUE(pcap.valid) << pcap.problem;
    EXPECT_EQ(pcap.linkType, 300u);
    // "FF 33 33" for a frame, "FE30 90 90" for an answer from the bill validator.
    std::vector<std::string> captured;
    std::uint64_t previous = 0;
    for (const auto& p : pcap.packets) {
        ASSERT_GE(p.data.size(), 3u);
        ASSERT_EQ(p.data[0], 0) << "pseudo-header version";
        ASSERT_TRUE(p.event() == 0xFF || p.event() == 0xFE) << int{p.event()};
        if (p.event() == 0xFE) {
            ASSERT_EQ(p.data[2], 0x30) << "the bill validator's address";
        }
        EXPECT_GE(p.timeUs, previous) << "packets in time order";
        previous = p.timeUs;
        captured.push_back((p.event() == 0xFF ? "FF " : "FE30 ") + hex(p.wire()));
    }

    std::string simLog;
    for (int i = 0; i < 50 && !contains(simLog, "client_closed"); ++i, std::this_thread::sleep_for(20ms))
        simLog = readFile(log);
    std::vector<std::string> logged;
    for (const std::string& line : splitLines(simLog)) {
        if (contains(line, "\"dir\":\"rx\"") && !jsonText(line, "frame").empty())
            logged.push_back("FF " + jsonText(line, "frame"));
        if (contains(line, "\"dir\":\"tx\"") && !jsonText(line, "bytes").empty())
            logged.push_back("FE30 " + jsonText(line, "bytes"));
    }
    ASSERT_GT(logged.size(), 100u);
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [](const std::string& e) {
        return e.rfind("FE30 91", 0) == 0;
    })) << "the bill came";

    // Every entry of the log in the capture, in order; only an answer sent as the run closed the
    // port may be missing at the end.
    std::size_t at = 0, found = 0;
    for (const std::string& entry : logged) {
        const auto hit = std::find(captured.begin() + static_cast<std::ptrdiff_t>(at), captured.end(), entry);
        if (hit == captured.end()) break;
        at = static_cast<std::size_t>(hit - captured.begin()) + 1;
        ++found;
    }
    EXPECT_GE(found + 1, logged.size()) << "first missing: " << logged[found];
    if (found < logged.size()) {
        EXPECT_EQ(logged[found].substr(0, 4), "FE30");
    }
    // ... and the capture holds nothing the validator did not see or send, but for a frame
    // written as the run closed the port: the close purges output the validator had not read.
    EXPECT_LE(captured.size(), logged.size() + 1);
    if (captured.size() > logged.size()) {
        EXPECT_EQ(captured.back().substr(0, 3), "FF ");
    }
}

TEST(BatchCapture, ACaptureThatCannotBeWrittenEndsTheRunWithStatusFive) {
    TempDir dir;
    SimProcess sim({});
    DirectRun missing(sim.port() + Args{"--pcap", (dir / "no" / "bus.pcap").string(), "--seconds", "1"}, dir);
    EXPECT_EQ(missing.status, FILE_FAILED);
    EXPECT_TRUE(contains(missing.err, "cannot write the capture")) << missing.err;
    if (fs::exists("/dev/full")) {
        DirectRun full(sim.port() + Args{"--pcap", "/dev/full", "--seconds", "1"}, dir);
        EXPECT_EQ(full.status, FILE_FAILED);
        EXPECT_TRUE(contains(full.err, "No space left on device")) << full.err;
    }
}
