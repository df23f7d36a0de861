// SPDX-License-Identifier: GPL-3.0-or-later
// START and shut-down with the real link worker on a scripted port.

#include "control/Controller.h"
#include "support/FakePort.h"
#include "support/RecordingView.h"

#include <gtest/gtest.h>

using namespace norvex;
using namespace norvex::link;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Handles each completion on the worker's thread while the test thread waits for it.
struct Window : LinkNotifier {
    control::Controller* ctl = nullptr;
    std::mutex m;
    std::condition_variable cv;
    int handled = 0;
    bool notify(std::uint8_t code) override {
        std::lock_guard<std::mutex> lk(m);
        ctl->interpretStandard(code);
        ++handled;
        cv.notify_all();
        return true;
    }
    void linkFailed(const link::LinkFault&) override {}
    void cancelWaits() override {}
    bool waitHandled(int n) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::seconds(2), [&] { return handled >= n; });
    }
};

} // namespace

TEST(Start, FramesAndAnswersGoThroughTheWorkerUntilShutdown) {
    auto port = std::make_shared<test::FakePortState>();
    LinkData data;
    PortMap ports;
    test::RecordingView view;
    control::Controller ctl(data, view);
    Window window;
    window.ctl = &ctl;
    ComLink link(data, ports, test::fakePortFactory(port)); // ends its worker before the rest goes
    auto tickAndSend = [&] {
        const std::size_t before = port->writesSnapshot().size();
        ctl.tick();
        return port->waitWrites(before + 1) ? port->writesSnapshot().back() : Bytes{};
    };

    port->failOpen = true;
    EXPECT_FALSE(ctl.start(link, window));
    EXPECT_EQ(view.lastMessage()->text.substr(0, view.lastMessage()->text.find('\n')), "No Connection");
    EXPECT_FALSE(ctl.started() || view.timerRunning || data.state(REQ_RESET) != RequestState::Idle);
    port->failOpen = false; // START can be pressed again
    ASSERT_TRUE(ctl.start(link, window));
    EXPECT_EQ(tickAndSend(), (Bytes{0x30, 0x30}));
    port->feed({0x00});
    ASSERT_TRUE(window.waitHandled(1));
    EXPECT_EQ(tickAndSend(), (Bytes{0x33, 0x33}));
    port->feed({0x06, 0x06});
    ASSERT_TRUE(window.waitHandled(2));
    EXPECT_EQ(ctl.events().texts[0], "validator reset");

    ctl.shutdown(link);
    EXPECT_FALSE(view.timerRunning || ctl.started() || link.workerRunning());
    ctl.tick(); // a late tick sends nothing into the closed link
    EXPECT_FALSE(data.slotBusy());
}
