// SPDX-License-Identifier: GPL-3.0-or-later
// Faults on the line, each against the virtual validator: what the operator sees, and that no
// event is lost or counted twice, nothing hangs and nothing spins.

#include "SimFixture.h"

#include <sys/resource.h>

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreWithSim;
namespace fs = std::filesystem;

namespace {

double processCpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

std::size_t framesOf(const std::string& log, const std::string& frame) {
    return test::logLines(log, {"\"dir\":\"rx\"", "\"frame\":\"" + frame + "\""}).size();
}

// Whether the validator logged an acknowledge of an answer it sent with these bytes (between
// that answer and the next thing it sent).
bool acknowledged(const std::string& log, const std::string& bytes) {
    bool after = false;
    for (const auto& line : test::logLines(log, {})) {
        if (line.find("\"dir\":\"tx\"") != std::string::npos)
            after = line.find("\"bytes\":\"" + bytes) != std::string::npos;
        else if (after && line.find("\"ack_ms\"") != std::string::npos)
            return true;
    }
    return false;
}

} // namespace

TEST_F(CoreWithSim, SilentValidatorGetsItsRequestRepeatedAndTheWindowStillCloses) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_EQ(sim->command("fail setup silent always"), "ok");
    loop->runFor(1500ms);
    // SETUP every fifth tick at 20 ms, nothing else in between once it is awaited.
    EXPECT_GE(framesOf(log, "31 31"), 8u);
    EXPECT_EQ(core->controller().validator().featureLevel, 0);
    const auto t0 = std::chrono::steady_clock::now();
    core->onDestroy();
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_FALSE(core->comLink().workerRunning());
}

TEST_F(CoreWithSim, WrongChecksumsAndSlowAnswersLoseNoEvent) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    core->controller().setEscrowOption(control::EscrowOption::AutoStack);
    ASSERT_EQ(sim->command("fail poll badsum 2"), "ok");
    ASSERT_EQ(sim->command("insert 1"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x81) >= 1; }, 5s));
    loop->runFor(300ms);
    EXPECT_EQ(eventsWithCode(0x81), 1);

    // A record whose bytes come one at a time, 3 ms apart: still complete, asked for once.
    ASSERT_EQ(sim->command("fail sensors slow gap=3"), "ok");
    core->onCommand(cmd::SENSORS_REQUEST);
    ASSERT_TRUE(
        loop->runUntil([&] { return core->linkData().state(REQ_SENSORS) == RequestState::Idle; }, 5s));
    EXPECT_EQ(framesOf(log, "37 FF 56 4E 54 00 E9 17"), 1u);
    EXPECT_EQ(core->sensors().sensor[2].gain, 0x0123);
}

TEST_F(CoreWithSim, SplitAnswersAndTrailingGarbageAreAbsorbed) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    core->controller().setEscrowOption(control::EscrowOption::AutoStack);
    ASSERT_EQ(sim->command("fail stats split parts=4 gap=4"), "ok");
    core->onCommand(cmd::STATISTICS_REQUEST);
    ASSERT_TRUE(
        loop->runUntil([&] { return core->linkData().state(REQ_STATISTICS) == RequestState::Idle; }, 5s));
    EXPECT_EQ(core->statistics().billsAccepted[0], 0x0102);

    ASSERT_EQ(sim->command("fail poll garbage 3 n=6 at=after"), "ok");
    ASSERT_EQ(sim->command("insert 2"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x82) >= 1; }, 5s));
    loop->runFor(300ms);
    EXPECT_EQ(eventsWithCode(0x82), 1);
}

TEST_F(CoreWithSim, NoiseAfterAPollMakesNoEventAndIsNotAcknowledged) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    const auto before = eventCodes();

    // Noise in place of the answer, longer than any short answer: nothing is acknowledged.
    ASSERT_EQ(sim->commands({"fail poll noise 1 n=40 seed=7", "status 03"}), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x03) >= 1; }, 5s));
    EXPECT_TRUE(test::logLines(log, {"\"event\":\"unexpected_ack\""}).empty());

    // Noise right behind the answer: the checksum is no checksum, nothing is acknowledged, and
    // the answer comes again at the next POLL.
    ASSERT_EQ(sim->commands({"fail poll noise 1 at=after n=30 seed=11", "status 01"}), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x01) >= 1; }, 5s));
    loop->runFor(300ms);
    ASSERT_EQ(test::logLines(log, {"\"bytes\":\"01 01 "}).size(), 1u); // with the noise behind it
    EXPECT_FALSE(acknowledged(log, "01 01 "));
    EXPECT_TRUE(acknowledged(log, "01 01\""));
    EXPECT_TRUE(test::logLines(log, {"\"event\":\"unexpected_ack\""}).empty());

    auto expected = before;
    expected.push_back(0x03);
    expected.push_back(0x01);
    if (expected.size() > 8) expected.erase(expected.begin(), expected.end() - 8);
    EXPECT_EQ(eventCodes(), expected);
}

TEST_F(CoreWithSim, PackedAnswersAreDeliveredWholeAndOnce) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    // A status byte equal to the sum before it, a checksum of 00 or FF: one answer each.
    const std::vector<std::pair<std::string, std::string>> answers = {{"status 80 80", "80 80 00"},
                                                                      {"status 03 03", "03 03 06"},
                                                                      {"status C0 40", "C0 40 00"},
                                                                      {"status F5 0A", "F5 0A FF"}};
    std::size_t delivered = 0;
    for (const auto& [command, bytes] : answers) {
        ASSERT_EQ(sim->command(command), "ok");
        delivered += 2;
        ASSERT_TRUE(loop->runUntil(
            [&] { return core->controller().events().full || eventCodes().size() >= delivered; }, 5s))
            << bytes;
        loop->runFor(100ms);
    }
    expectEveryResendRecognised();
    EXPECT_EQ(eventCodes(), (std::vector<std::uint8_t>{0x80, 0x80, 0x03, 0x03, 0xC0, 0x40, 0xF5, 0x0A}));
}

TEST_F(CoreWithSim, UnpluggedAdapterIsReportedOnceWithoutSpinningAndRecordsSurvive) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    const std::string path = (dir / "traffic.txt").string();
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back(path);
    core->onOptionsBrowse();
    core->onOptionsOk(control::EscrowOption::Manual);
    ASSERT_NO_FATAL_FAILURE(runStartup());
    const std::string before = test::readAll(path);
    ASSERT_NE(before.find("vmc: 31"), std::string::npos);

    ASSERT_EQ(sim->command("fail poll vanish then=stay"), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return !core->comLink().workerRunning(); }, 5s));
    loop->runFor(200ms);
    auto comErrors = [&] {
        std::size_t n = 0;
        for (const auto& m : view.messages)
            n += m.caption == "COM Error!";
        return n;
    };
    EXPECT_EQ(comErrors(), 1u);
    EXPECT_EQ(view.beeps, 1) << "the worker left its loop";

    // Nothing spins: a second of the dead link costs (almost) no processor time, and the fault
    // is not told again.
    const double c0 = processCpuSeconds();
    loop->runFor(1000ms);
    EXPECT_LT(processCpuSeconds() - c0, 0.2);
    EXPECT_EQ(comErrors(), 1u);

    // The window stays usable and closes normally; the lines written before are on disk.
    core->onTabChange(2);
    core->onTabChange(0);
    core->onDestroy();
    EXPECT_EQ(view.beeps, 1) << "a worker that already stopped does not beep again";
    EXPECT_EQ(test::readAll(path).substr(0, before.size()), before);

    // Started again with the adapter back, it works.
    core.reset();
    sim.reset();
    view = test::RecordingView{};
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
}
