// SPDX-License-Identifier: GPL-3.0-or-later
// The poll scheduler tick by tick: the start-up and log sequences, priorities, the transmit
// slot, time-outs of awaited answers and the poll period.

#include "ControlHarness.h"

using namespace norvex;
using namespace norvex::link;
using namespace norvex::test;

using Scheduler = ControlHarness;

TEST_F(Scheduler, StartupSendsResetSetupIdentificationAndBillTypes) {
    ctl.beginRunning();
    EXPECT_TRUE(view.timerRunning && (view.barEnabled[{0, ids::BAR_BUTTON}]));
    EXPECT_FALSE(view.enabled[ids::START] || view.enabled[ids::COM_SELECTOR]);
    const auto frames = answeredStartup();
    for (int t = 1; t <= 25; ++t) {
        const Bytes expected = t == 1    ? RESET
                               : t == 6  ? SETUP
                               : t == 16 ? IDENT
                               : t == 25 ? Bytes{0x34, 0x00, 0xFF, 0x00, 0x00, 0x33}
                                         : POLL;
        EXPECT_EQ(frames[static_cast<std::size_t>(t - 1)], expected) << "tick " << t;
    }
    EXPECT_EQ(ctl.commands().texts[3], "TYPE_ESCR enable");
    ctl.reconnect(); // the same sequence again, without RESET
    const auto again = answeredStartup();
    EXPECT_EQ(again[5], SETUP);
    EXPECT_EQ(again[24][0], 0x34);
    EXPECT_EQ(std::count(again.begin(), again.end(), RESET), 0);
}

// Enabling "all reported types" before SETUP has answered would disable every type.
TEST_F(Scheduler, EnableStepWaitsForTheSetupAnswer) {
    ctl.beginRunning();
    for (int t = 1; t <= 40; ++t)
        EXPECT_NE(tick(), (Bytes{0x34, 0, 0, 0, 0, 0x34})) << "tick " << t;
    answerSetup({0, 5});
    EXPECT_EQ(tick(), (Bytes{0x34, 0x00, 0x02, 0x00, 0x00, 0x36}));
}

TEST_F(Scheduler, OneFramePerTickByPriorityAndNoneIntoABusySlot) {
    ctl.beginRunning(); // RESET requested
    ctl.request(REQ_CLEAR_STATS);
    ctl.request(REQ_ESCROW_STACK);
    ctl.request(REQ_SETUP);
    const std::uint8_t ack[] = {0x00};
    ASSERT_TRUE(data.submit(ack, 1)); // not yet taken by the worker
    EXPECT_EQ(tick(), Bytes{0x00});
    EXPECT_EQ(ctl.commands().size(), 0);
    EXPECT_EQ(tick(), RESET);
    EXPECT_EQ(tick(), SETUP);
    answerSetup({1});
    EXPECT_EQ(tick(), (Bytes{0x35, 0x01, 0x36}));
    EXPECT_EQ(tick()[6], 0x32);
    ctl.request(REQ_OPTICS); // an answer that never comes: RESET gives it up
    tick();
    ctl.resetValidatorView();
    EXPECT_EQ(tick(), RESET);
    ctl.statusRequest(); // REQ_POLL's own state never holds the POLL back
    EXPECT_EQ(tick(), POLL);
}

struct Silent {
    unsigned periodMs;
    int interval;
};
class SilentSetup : public ControlHarness, public ::testing::WithParamInterface<Silent> {};

TEST_P(SilentSetup, SetupIsRepeatedWithoutPollsInBetween) {
    ctl.setPollPeriod(GetParam().periodMs);
    ctl.beginRunning();
    answeredStartup();
    ctl.request(REQ_SETUP);
    const int n = GetParam().interval;
    for (int t = 0; t <= 3 * n; ++t)
        EXPECT_EQ(tick(), t % n ? Bytes{} : SETUP) << "tick " << t;
}
INSTANTIATE_TEST_SUITE_P(Periods, SilentSetup, ::testing::Values(Silent{20, 5}, Silent{100, 2}));

// The optics record takes 386 ms on the bus: no period may ask for it again before that.
class OpticsWait : public ControlHarness, public ::testing::WithParamInterface<unsigned> {};

TEST_P(OpticsWait, RecordHasTimeToArrive) {
    ctl.setPollPeriod(GetParam());
    ctl.beginRunning();
    answeredStartup();
    ctl.request(REQ_OPTICS);
    tick();
    unsigned waitedMs = 0;
    while (data.state(REQ_OPTICS) == RequestState::Awaiting && waitedMs < 5000) {
        EXPECT_EQ(tick(), Bytes{}); // no POLL while it is awaited
        waitedMs += GetParam();
    }
    EXPECT_GE(waitedMs, 487u);
    EXPECT_EQ(tick()[6], 0xE8);
}
INSTANTIATE_TEST_SUITE_P(AllPeriods, OpticsWait, ::testing::Values(20u, 50u, 100u, 150u, 200u));

TEST_F(Scheduler, LogSequenceFetchesStatisticsSensorsAndOptics) {
    ctl.beginRunning();
    answeredStartup();
    ctl.startLogSequence();
    std::vector<Bytes> got;
    for (int t = 1; t <= 21; ++t) {
        const Bytes f = tick();
        if (f.size() == 8) got.push_back({static_cast<std::uint8_t>(t), f[6]});
        for (RequestKind k : {REQ_STATISTICS, REQ_SENSORS, REQ_OPTICS})
            data.setState(k, RequestState::Idle); // answered
    }
    EXPECT_EQ(got, (std::vector<Bytes>{{6, 0xDD}, {14, 0xE9}, {21, 0xE8}}));
}

TEST_F(Scheduler, PeriodChosenBeforeStartAndTheRunClock) {
    ctl.setPollPeriod(50);
    EXPECT_EQ(view.fields[ids::PAGE_FRAME], "activity monitor - poll timer 50 ms");
    ctl.tick(); // before START a tick does nothing
    EXPECT_EQ(ctl.runClockMs(), 0u);
    ctl.beginRunning();
    EXPECT_EQ(view.timerPeriod, 50u);
    ctl.setRunClockMs(0xFFFFFF00u - 50);
    tick();
    EXPECT_EQ(ctl.runClockMs(), 0xFFFFFF00u);
    tick();
    EXPECT_EQ(ctl.runClockMs(), 0u);
}

// The Poll_Timer menu while running: the timer starts again with the new period, and the run
// clock and the time-outs of awaited answers count in it from the next tick.
TEST_F(Scheduler, PeriodChangedWhileRunningGovernsTicksAndCounters) {
    ctl.beginRunning();
    answeredStartup();
    struct Step {
        unsigned periodMs;
        int setupInterval; // ticks from one unanswered SETUP to the next (time-out 60 ms)
    };
    for (const Step& step : {Step{20, 5}, Step{50, 3}, Step{200, 2}}) {
        const int starts = view.timerStarts;
        ctl.setPollPeriod(step.periodMs);
        EXPECT_TRUE(view.timerRunning);
        EXPECT_EQ(view.timerPeriod, step.periodMs);
        EXPECT_EQ(view.timerStarts, starts + 1);
        EXPECT_EQ(view.fields[ids::PAGE_FRAME],
                  "activity monitor - poll timer " + std::to_string(step.periodMs) + " ms");
        const std::uint32_t clock = ctl.runClockMs();
        EXPECT_EQ(tick(), POLL);
        EXPECT_EQ(ctl.runClockMs(), clock + step.periodMs);
        ctl.request(REQ_SETUP);
        for (int t = 0; t <= 2 * step.setupInterval; ++t)
            EXPECT_EQ(tick(), t % step.setupInterval ? Bytes{} : SETUP) << step.periodMs << " ms, tick " << t;
        answerSetup({1, 2});
    }
}

// A frame held in the slot while a long answer is still arriving has not gone out: its own
// time-out starts when it leaves, so it is not asked for twice.
TEST_F(Scheduler, FrameWaitingInTheSlotDoesNotTimeOut) {
    ctl.setPollPeriod(20);
    ctl.beginRunning();
    answeredStartup();
    ctl.request(REQ_STATISTICS);
    ctl.tick(); // statistics frame placed in the slot; the worker holds it for 400 ms
    for (int t = 0; t < 20; ++t)
        ctl.tick();
    EXPECT_EQ(data.state(REQ_STATISTICS), RequestState::Awaiting);
    EXPECT_EQ(transmit()[6], 0xDD);
    EXPECT_EQ(tick(), Bytes{}); // awaited: no POLL, and no second request
}
