// SPDX-License-Identifier: GPL-3.0-or-later
// norvex --batch --listen against the virtual machine (norvex-sim --machine): the batch mode's
// event lines for the validator, one line per other device's exchange, the record and the
// capture of every device, and the exit statuses.

#include "BatchHarness.h"
#include "support/PcapReader.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <regex>
#include <unistd.h>

using namespace batchtest;
using namespace norvex::batch::batch_status;

namespace {

// The machine, its two lines as --listen takes them, and a scenario of its own.
struct Machine {
    TempDir& dir;
    std::unique_ptr<SimProcess> sim;
    Machine(TempDir& d, const std::string& scenario) : dir(d) {
        std::ofstream(dir / "scenario") << scenario;
        sim = std::make_unique<SimProcess>(
            Args{"--machine", "--poll-interval-ms", "20", "--scenario", (dir / "scenario").string()});
    }
    const std::string& lines() const { return sim->path(); }
};

std::vector<std::string> matching(const std::string& text, const std::string& pattern) {
    std::vector<std::string> out;
    const std::regex re(pattern);
    for (const auto& line : splitLines(text))
        if (std::regex_search(line, re)) out.push_back(line);
    return out;
}

} // namespace

TEST(BatchListen, PrintsTheValidatorsEventsAndEveryOtherExchangeAndKeepsThemAll) {
    TempDir dir;
    // A bus reset starts the machine afresh while listened to.
    Machine machine(dir, "at 300 vmc busreset\nat 1000 insert 2\nat 1200 coin 1\nat 1400 insert 5 noescrow\n"
                         "at 1600 vmc noack 1\nat 1600 coin 3\n");
    ASSERT_NE(machine.lines().find(','), std::string::npos);
    const fs::path capture = dir / "bus.pcap", record = dir / "rec.txt";
    DirectRun run({"--batch", "--listen", machine.lines(), "--seconds", "3", "--pcap", capture.string(),
                   "--record", record.string()},
                  dir);
    ASSERT_EQ(run.status, OK) << run.err;

    // The batch mode's own lines for the validator: its events, setup and commands.
    const auto events = matching(run.out, "^[0-9]{9} event ");
    ASSERT_GE(events.size(), 4u) << run.out;
    EXPECT_TRUE(contains(events[events.size() - 4], "event (06h) validator reset")) << run.out;
    EXPECT_TRUE(contains(events[events.size() - 3], "event (92h) bill escrowed")) << run.out;
    EXPECT_TRUE(contains(events[events.size() - 2], "event (82h) bill stacked")) << run.out;
    EXPECT_TRUE(contains(events[events.size() - 1], "event (85h) bill stacked")) << run.out;
    EXPECT_FALSE(matching(run.out, "^setup: ").empty());
    EXPECT_FALSE(matching(run.out, "^identification: maker VNT").empty()) << run.out;
    EXPECT_FALSE(matching(run.out, "command \\(35h\\) ESCROW release").empty())
        << "the machine stacked the bill";
    // Every other device's exchange in one line, named by its address.
    const auto changer = matching(run.out, "^[0-9]{9} heard \\(0Bh\\) coin changer POLL: 0B 0B -> ");
    EXPECT_GT(changer.size(), 30u);
    EXPECT_EQ(
        matching(run.out, "heard \\(0Bh\\) coin changer POLL: 0B 0B -> 5. .. .. \\(coin of type").size(), 3u)
        << "three coins, the unacknowledged one resent";
    EXPECT_EQ(matching(run.out, "; no ACK").size(), 1u) << run.out;
    EXPECT_FALSE(matching(run.out, "heard \\(09h\\) coin changer SETUP: 09 09 -> 03 19 78").empty());

    // The record: one line per answer of every device.
    const std::string rec = readFile(record);
    EXPECT_TRUE(contains(rec, "  vmc: 33 val: 92 92 \r\n")) << rec;
    EXPECT_TRUE(contains(rec, "  vmc: 0B val: 51 ")) << rec;
    EXPECT_TRUE(contains(rec, "  vmc: 09 val: 03 19 78 ")) << rec;

    // The capture: the changer's answers with its own address.
    const norvex::test::PcapFile pcap = norvex::test::readPcap(capture.string());
    ASSERT_TRUE(pcap.valid) << pcap.problem;
    int changerAnswers = 0, validatorAnswers = 0;
    for (const auto& p : pcap.packets) {
        if (p.event() != 0xFE) continue;
        changerAnswers += p.data[2] == 0x08;
        validatorAnswers += p.data[2] == 0x30;
    }
    EXPECT_GT(changerAnswers, 30);
    EXPECT_GT(validatorAnswers, 30);
}

TEST(BatchListen, ExitStatusesAreTheBatchModes) {
    TempDir dir;
    {
        // A line that stops: the adapter pulled.
        Machine machine(dir, "at 700 unplug controller\n");
        DirectRun run({"--listen", machine.lines(), "--seconds", "5"}, dir);
        EXPECT_EQ(run.status, LINK_FAILED) << run.out << run.err;
        EXPECT_TRUE(contains(run.err, "COM Error!: The serial port ")) << run.err;
    }
    {
        // No terminal behind a path, or none at all.
        const fs::path file = dir / "not-a-port";
        std::ofstream(file) << "x";
        Machine machine(dir, "");
        const std::string peripherals = machine.lines().substr(machine.lines().find(',') + 1);
        DirectRun notSerial({"--listen", file.string() + "," + peripherals, "--seconds", "1"}, dir);
        EXPECT_EQ(notSerial.status, NO_CONNECTION);
        EXPECT_TRUE(contains(notSerial.err, "No Connection\nThe controller's line " + file.string()))
            << notSerial.err;
        DirectRun missing({"--listen", peripherals + "," + (dir / "gone").string(), "--seconds", "1"}, dir);
        EXPECT_EQ(missing.status, NO_CONNECTION);
        EXPECT_TRUE(contains(missing.err, "The peripherals' line ")) << missing.err;
        // The same terminal under another name: refused before anything opens.
        ASSERT_EQ(::symlink(peripherals.c_str(), (dir / "alias").c_str()), 0);
        norvex::batch::BatchEnvironment env;
        env.out = nullptr;
        env.err = nullptr;
        env.settingsDir = dir.path.string();
        EXPECT_EQ(norvex::batch::runBatch({"--listen", peripherals + "," + (dir / "alias").string()}, env),
                  BAD_ARGUMENTS);
    }
    {
        // A capture that cannot be written.
        Machine machine(dir, "");
        DirectRun run(
            {"--listen", machine.lines(), "--seconds", "1", "--pcap", (dir / "no" / "bus.pcap").string()},
            dir);
        EXPECT_EQ(run.status, FILE_FAILED);
    }
}

TEST(BatchListen, LinesGivenTheWrongWayRoundAreSaidOnceAndListeningGoesOn) {
    TempDir dir;
    Machine machine(dir, "at 1000 insert 2\n");
    const std::string& lines = machine.lines();
    const std::size_t comma = lines.find(',');
    ASSERT_NE(comma, std::string::npos);
    const std::string swapped = lines.substr(comma + 1) + "," + lines.substr(0, comma);
    for (const std::string& given : {lines, swapped}) {
        DirectRun run({"--batch", "--listen", given, "--seconds", "2"}, dir);
        EXPECT_EQ(run.status, OK) << run.err;
        EXPECT_EQ(matching(run.err, "look swapped").size(), given == swapped ? 1u : 0u) << run.err;
    }
}
