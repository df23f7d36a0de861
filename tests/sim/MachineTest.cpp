// SPDX-License-Identifier: GPL-3.0-or-later
// The virtual machine's controller and coin changer, on an explicit clock: what goes on each line,
// in order, and how the controller's faults change what the peripherals send next.

#include "sim/Machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

using namespace norvex::sim;

namespace {

struct Wire {
    BusLine line;
    std::string bytes, kind;
    std::int64_t atUs;
};

// Runs the machine, each write taking its bytes' time on the line, until `until` µs.
struct BusRun {
    Machine machine{Machine::Config{}};
    std::int64_t now = 0;
    std::vector<Wire> wire;

    void to(std::int64_t until) {
        while (now < until) {
            const BusWrite& w = machine.next(now);
            now = w.atUs + static_cast<std::int64_t>(w.bytes.size()) * 1146;
            wire.push_back({w.line, toHex(w.bytes), w.kind, w.atUs});
            machine.written(now);
            machine.tick(now);
        }
    }
    std::string apply(const std::string& line) { return machine.apply(parseCommand(line).command); }
    // The peripherals' answers to a command, in order.
    std::vector<std::string> answersTo(const std::string& command) const {
        std::vector<std::string> out;
        for (std::size_t i = 0; i + 1 < wire.size(); ++i)
            if (wire[i].bytes == command && wire[i + 1].line == BusLine::Peripherals)
                out.push_back(wire[i + 1].bytes);
        return out;
    }
    int count(const std::string& bytes, BusLine line) const {
        int n = 0;
        for (const Wire& w : wire)
            n += w.bytes == bytes && w.line == line;
        return n;
    }
};

} // namespace

TEST(Machine, StartsBothDevicesThenPollsThemInTurnAndStacksEscrowedBills) {
    BusRun run;
    run.to(300000);
    std::vector<std::string> commands;
    for (const Wire& w : run.wire)
        if (w.line == BusLine::Controller && w.bytes != "00") commands.push_back(w.bytes);
    ASSERT_GE(commands.size(), 11u);
    const std::vector<std::string> startup = {"30 30",
                                              "08 08",
                                              "31 31",
                                              "09 09",
                                              "37 00 37",
                                              "0F 00 0F",
                                              "34 FF FF FF FF 30",
                                              "0A 0A",
                                              "33 33",
                                              "0C 00 0F 00 0F 2A",
                                              "33 33"};
    EXPECT_EQ(std::vector<std::string>(commands.begin(), commands.begin() + 11), startup);
    // Every data answer acknowledged, a command every 25 ms at the most.
    EXPECT_EQ(run.answersTo("33 33").front(), "06 06");
    for (std::size_t i = 1; i < run.wire.size(); ++i)
        EXPECT_GE(run.wire[i].atUs, run.wire[i - 1].atUs);

    EXPECT_EQ(run.apply("insert 3"), "ok");
    EXPECT_EQ(run.apply("coin 1"), "ok");
    run.to(500000);
    const auto bills = run.answersTo("33 33");
    EXPECT_NE(std::find(bills.begin(), bills.end(), "93 93"), bills.end());
    EXPECT_NE(std::find(bills.begin(), bills.end(), "83 83"), bills.end());
    EXPECT_EQ(run.count("35 01 36", BusLine::Controller), 1) << "the escrowed bill stacked once";
    const auto coins = run.answersTo("0B 0B");
    // The coin of type 1 into its tube, now 11 coins, behind the changer's reset status.
    EXPECT_NE(std::find_if(coins.begin(), coins.end(),
                           [](const std::string& a) { return a.find("51 0B") != std::string::npos; }),
              coins.end())
        << ::testing::PrintToString(coins);
}

TEST(Machine, TheControllersFaultsMakeThePeripheralsSendAgainOrReset) {
    BusRun run;
    run.to(450000);
    // No ACK: the same bill again at the next POLL, then acknowledged.
    run.apply("vmc noack 1");
    run.apply("insert 4 noescrow");
    run.to(600000);
    auto bills = run.answersTo("33 33");
    EXPECT_EQ(std::count(bills.begin(), bills.end(), "84 84"), 2);
    // RET: the answer at once again, acknowledged; no third copy.
    run.apply("vmc ret 1");
    run.apply("insert 5 noescrow");
    run.to(750000);
    EXPECT_EQ(run.count("AA", BusLine::Controller), 1);
    EXPECT_EQ(run.count("85 85", BusLine::Peripherals), 2);
    // A late ACK counts for nothing: the coin comes again, and is counted once.
    run.apply("vmc lateack 1 gap=9");
    run.apply("coin 2");
    run.to(900000);
    EXPECT_EQ(run.count("52 09 5B", BusLine::Peripherals), 2);
    // The bus reset: one 00 held low, then both devices start afresh.
    run.apply("vmc busreset");
    run.to(1400000);
    std::size_t reset = 0;
    for (std::size_t i = 0; i < run.wire.size(); ++i)
        if (run.wire[i].kind == "bus_reset") reset = i;
    ASSERT_GT(reset, 0u);
    ASSERT_LT(reset + 1, run.wire.size());
    EXPECT_GE(run.wire[reset + 1].atUs - run.wire[reset].atUs, 150000) << "the line held low";
    const std::string first = run.wire[reset + 1].bytes;
    EXPECT_TRUE(first == "30 30" || first == "08 08") << first;
}
