// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A toolkit-free main window on the real serial link, talking to the virtual validator on a
// pseudo-terminal, with the test thread as its window thread.

#include "support/CoreLoop.h"
#include "support/RecordingView.h"
#include "support/SimProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace norvex::test {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

inline std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class CoreWithSim : public ::testing::Test {
protected:
    fs::path dir =
        fs::temp_directory_path() / ("norvex-e2e-" + std::to_string(::getpid()) + "-" +
                                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::string log = (dir / "sim.log").string();
    std::unique_ptr<SimProcess> sim;
    RecordingView view;
    link::PortMap ports;
    std::unique_ptr<ui::MainWindowLogic> core;
    std::unique_ptr<CoreLoop> loop;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        if (core) core->onDestroy();
        loop.reset();
        core.reset();
        sim.reset();
        if (!HasFailure()) fs::remove_all(dir);
    }

    void startWith(std::vector<std::string> simArgs, unsigned pollMs) {
        sim = std::make_unique<SimProcess>(simArgs, log);
        ASSERT_TRUE(sim->running());
        ports.set(0, sim->path());
        core = std::make_unique<ui::MainWindowLogic>(view, ports);
        core->setSettingsDirectory(dir.string());
        loop = std::make_unique<CoreLoop>(*core);
        core->onInitDialog();
        core->controller().setPollPeriod(pollMs);
        core->onStart(loop->bridge());
        ASSERT_TRUE(core->controller().started()) << (view.lastMessage() ? view.lastMessage()->text : "");
    }

    // A fresh validator and window, for a test that runs twice.
    void restartWith(std::vector<std::string> simArgs, unsigned pollMs) {
        if (core) core->onDestroy();
        loop.reset();
        core.reset();
        sim.reset();
        view = test::RecordingView{};
        fs::remove(log);
        startWith(std::move(simArgs), pollMs);
    }

    // Start-up sequence done: SETUP and identification in, bill types enabled.
    void runStartup() {
        ASSERT_TRUE(loop->runUntil(
            [&] {
                return view.fields[ids::PROGRAM_REVISION] == "BV2.14-7" &&
                       core->controller().validator().billMask != 0 && !core->linkData().slotBusy();
            },
            10s));
        loop->runFor(200ms);
    }

    // The event history, oldest first.
    std::vector<std::uint8_t> eventCodes() const {
        auto& h = const_cast<ui::MainWindowLogic&>(*core).controller().events();
        std::vector<std::uint8_t> codes;
        for (int i = 0; i < h.size(); ++i)
            codes.push_back(h.codes[static_cast<std::size_t>(i)]);
        return codes;
    }

    // At MDB's 5 ms an acknowledge that a busy machine holds back makes the validator send its
    // answer again: every such resend is one the link recognised (and gave no event for).
    void expectEveryResendRecognised() {
        core->busLog().takeNew();
        std::size_t recognised = 0;
        for (const auto& k : core->busLog().kept())
            if (k.record.resend || k.record.repeat) ++recognised;
        EXPECT_EQ(recognised, test::logLines(log, {"\"event\":\"repeat\""}).size());
    }

    int eventsWithCode(std::uint8_t code) const {
        int n = 0;
        auto& h = const_cast<ui::MainWindowLogic&>(*core).controller().events();
        for (int i = 0; i < 8; ++i)
            if (h.codes[static_cast<std::size_t>(i)] == code) ++n;
        return n;
    }
};

} // namespace norvex::test
