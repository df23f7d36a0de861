// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/Scenario.h"

#include <gtest/gtest.h>

using namespace norvex::sim;

TEST(SimScenario, ReadsTimedCommandsInTimeOrderAndSkipsCommentsAndBlankLines) {
    std::vector<ScenarioStep> steps;
    std::string error;
    ASSERT_TRUE(parseScenario("# start-up\n"
                              "at 5000 fail poll silent 3\n"
                              "\n"
                              "at 2000 insert 1 escrow\r\n"
                              "at 3000 status 03 0x09\n"
                              "at 2000 coupon\n"
                              "at 9000 end\n",
                              steps, error))
        << error;
    ASSERT_EQ(steps.size(), 5u);
    EXPECT_EQ(steps[0].atMs, 2000);
    EXPECT_EQ(steps[0].command.type, Command::Type::Insert);
    EXPECT_EQ(steps[0].command.billType, 1);
    EXPECT_EQ(steps[0].command.escrow, EscrowChoice::Escrow);
    EXPECT_EQ(steps[1].command.type, Command::Type::Coupon); // same time: file order
    EXPECT_EQ(steps[2].command.bytes, (Bytes{0x03, 0x09}));
    EXPECT_EQ(steps[3].command.type, Command::Type::Fail);
    EXPECT_EQ(steps[3].command.target, "poll");
    EXPECT_EQ(steps[3].command.failure.mode, FailMode::Silent);
    EXPECT_EQ(steps[3].command.count, 3);
    EXPECT_EQ(steps[4].command.type, Command::Type::End);
}

TEST(SimScenario, NamesTheLineOfAnError) {
    std::vector<ScenarioStep> steps;
    std::string error;
    EXPECT_FALSE(parseScenario("at 10 coupon\ninsert 1\n", steps, error));
    EXPECT_EQ(error.rfind("line 2:", 0), 0u) << error;
    EXPECT_FALSE(parseScenario("at 10 insert 16\n", steps, error));
    EXPECT_EQ(error.rfind("line 1:", 0), 0u) << error;
}

TEST(SimScenario, CommandsTakeTheirOptionsAndRefuseNonsense) {
    auto r = parseCommand("fail optics split always parts=4 gap=30");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command.count, FailurePlan::ALWAYS);
    EXPECT_EQ(r.command.failure.parts, 4);
    EXPECT_EQ(r.command.failure.gapMs, 30);

    r = parseCommand("fail poll vanish then=stay");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_FALSE(r.command.failure.vanishExit);
    r = parseCommand("fail record refuse 2");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command.failure.mode, FailMode::Nak);

    r = parseCommand("fail poll noise");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command.failure.garbageBytes, 40);
    EXPECT_EQ(r.command.failure.at, Placement::Instead);
    r = parseCommand("fail poll noise 2 at=after n=12 gap=4 seed=99");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command.failure.at, Placement::After);
    EXPECT_EQ(r.command.failure.garbageBytes, 12);
    EXPECT_EQ(r.command.failure.gapMs, 4);
    EXPECT_EQ(r.command.failure.seed, 99u);
    EXPECT_FALSE(parseCommand("fail poll garbage at=instead").ok);
    EXPECT_FALSE(parseCommand("fail poll noise seed=0").ok);

    r = parseCommand("record optics set 112 01 23");
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.command.offset, 112u);
    EXPECT_EQ(r.command.bytes, (Bytes{0x01, 0x23}));

    EXPECT_FALSE(parseCommand("status 00").ok);
    EXPECT_FALSE(parseCommand("status 1FF").ok);
    EXPECT_FALSE(parseCommand("fail poll explode").ok);
    EXPECT_FALSE(parseCommand("fail teapot silent").ok);
    EXPECT_FALSE(parseCommand("fail poll silent 0").ok);
    EXPECT_FALSE(parseCommand("record flux clear").ok);
    EXPECT_FALSE(parseCommand("insert 1 sideways").ok);
}
