// SPDX-License-Identifier: GPL-3.0-or-later
// An adapter pulled while the link runs and plugged back in: the window shows the truth and
// START connects again, without restarting the program.

#include "SimFixture.h"

namespace norvex::test {
namespace {

TEST_F(CoreWithSim, AfterAPulledAdapterStartConnectsAgainOnceItIsBack) {
    // The adapter's name stays the same across re-plugging, as a stable name does.
    const std::string adapter = (dir / "adapter").string();
    sim = std::make_unique<SimProcess>(std::vector<std::string>{"--link", adapter}, log);
    ASSERT_TRUE(sim->running());
    ports.set(0, adapter);
    core = std::make_unique<ui::MainWindowLogic>(view, ports);
    core->setSettingsDirectory(dir.string());
    loop = std::make_unique<CoreLoop>(*core);
    core->onInitDialog();
    core->controller().setPollPeriod(20);
    core->onStart(loop->bridge());
    ASSERT_TRUE(core->controller().started());
    ASSERT_NO_FATAL_FAILURE(runStartup());
    EXPECT_FALSE(view.enabled[ids::START]);
    EXPECT_FALSE(view.enabled[ids::COM_SELECTOR]);

    // Pulled: reported once, and the window is back in its stopped state.
    ASSERT_EQ(sim->command("fail poll vanish then=exit"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return !core->controller().started(); }, 5s));
    ASSERT_NE(view.lastMessage(), nullptr);
    EXPECT_EQ(view.lastMessage()->caption, "COM Error!");
    EXPECT_NE(view.lastMessage()->text.find("Plug it back in and press START."), std::string::npos);
    EXPECT_FALSE(core->controller().portOpen());
    EXPECT_FALSE(core->comLink().workerRunning());
    EXPECT_FALSE(view.timerRunning);
    EXPECT_TRUE(view.enabled[ids::START]);
    EXPECT_TRUE(view.enabled[ids::COM_SELECTOR]);
    EXPECT_FALSE(core->controller().reconnectAllowed());
    EXPECT_EQ(view.fields[ids::LINE_NOTE], "");
    EXPECT_EQ(view.beeps, 1);
    sim.reset();

    // START before it is back: "No Connection", and why.
    const std::size_t told = view.messages.size();
    core->onStart(loop->bridge());
    EXPECT_FALSE(core->controller().started());
    ASSERT_EQ(view.messages.size(), told + 1);
    EXPECT_EQ(view.messages.back().caption, "Info");
    EXPECT_EQ(view.messages.back().text.rfind("No Connection\n" + adapter + " is not there", 0), 0u)
        << view.messages.back().text;

    // Back in: START runs the whole start-up sequence again (RESET, SETUP, identification,
    // bill types enabled) on the new terminal.
    sim =
        std::make_unique<SimProcess>(std::vector<std::string>{"--link", adapter}, dir.string() + "/sim2.log");
    ASSERT_TRUE(sim->running());
    view.fields[ids::PROGRAM_REVISION].clear();
    core->controller().validator().billMask = 0;
    loop->bridge().reset();
    core->onStart(loop->bridge());
    ASSERT_TRUE(core->controller().started()) << view.messages.back().text;
    EXPECT_FALSE(view.enabled[ids::START]);
    EXPECT_TRUE(view.timerRunning);
    ASSERT_NO_FATAL_FAILURE(runStartup());
    EXPECT_FALSE(
        test::logLines(dir.string() + "/sim2.log", {"\"dir\":\"rx\"", "\"frame\":\"30 30\""}).empty());

    // And a second pull is reported again.
    ASSERT_EQ(sim->command("fail poll vanish then=exit"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return !core->controller().started(); }, 5s));
    EXPECT_EQ(view.lastMessage()->caption, "COM Error!");
    EXPECT_EQ(view.beeps, 2);
}

} // namespace
} // namespace norvex::test
