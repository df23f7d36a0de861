// SPDX-License-Identifier: GPL-3.0-or-later
// What the operator keeps from a session with the virtual validator: the traffic data file and
// the diagnostics report.

#include "SimFixture.h"

#include <map>

#include <regex>

using namespace norvex;
using namespace norvex::link;
using namespace std::chrono_literals;
using norvex::test::CoreWithSim;
namespace fs = std::filesystem;

namespace {

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (std::size_t i; (i = text.find("\r\n", start)) != std::string::npos; start = i + 2)
        out.push_back(text.substr(start, i - start));
    return out;
}

// The answers of two bytes or more that the virtual validator sent, in order; not its resends of
// an answer whose acknowledge it did not see in time, which the link recognises and keeps out.
std::vector<std::string> simAnswers(const std::string& log) {
    std::vector<std::string> out;
    const std::regex tx("\"dir\":\"tx\",\"bytes\":\"([0-9A-F ]+)\"");
    bool resend = false;
    for (const auto& line : test::logLines(log, {})) {
        std::smatch m;
        if (line.find("\"event\":\"repeat\"") != std::string::npos) resend = true;
        if (!std::regex_search(line, m, tx)) continue;
        if (!resend && m[1].str().size() >= 5) out.push_back(m[1].str());
        resend = false;
    }
    return out;
}

} // namespace

TEST_F(CoreWithSim, DataFileHoldsEveryAnswerOfTwoBytesOrMoreInOrder) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    const std::string first = (dir / "first.txt").string();
    const std::string second = (dir / "second.txt").string();

    auto record = [&](const std::string& path) {
        core->optionsCommand();
        core->onOptionsDataSaving(ui::DataSaving::ToFile);
        view.savePaths.push_back(path);
        core->onOptionsBrowse();
        core->onOptionsOk(control::EscrowOption::AutoStack);
        ASSERT_TRUE(core->dataFileOpen());
    };
    ASSERT_NO_FATAL_FAILURE(record(first));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    for (const char* c : {"insert 0", "insert 3 escrow", "coupon"})
        ASSERT_EQ(sim->command(c), "ok");
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x83) == 1; }, 5s));
    core->onCommand(cmd::STATISTICS_REQUEST);
    ASSERT_TRUE(
        loop->runUntil([&] { return core->linkData().state(REQ_STATISTICS) == RequestState::Idle; }, 5s));
    loop->runFor(100ms);
    core->onDestroy();
    core.reset();

    // Every line is one answer, byte for byte, in the order the validator sent them.
    const auto lines = splitLines(test::readAll(first));
    const auto answers = simAnswers(log);
    ASSERT_GE(lines.size(), 6u);
    ASSERT_LE(lines.size(), answers.size());
    EXPECT_GE(lines.size() + 1, answers.size()); // at most the answer cut off by the close
    const std::regex shape("time: (\\d{9})  vmc: ([0-9A-F]{2}) val:((?: [0-9A-F]{2})+) ");
    std::uint64_t lastTime = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, shape)) << lines[i];
        EXPECT_EQ(m[3].str().substr(1), answers[i]) << "line " << i;
        const std::uint64_t t = std::stoull(m[1].str());
        EXPECT_GE(t, lastTime);
        lastTime = t;
    }
    EXPECT_NE(std::find_if(lines.begin(), lines.end(),
                           [](const std::string& l) {
                               return l.find("vmc: 37 val:") != std::string::npos && l.size() == 30 + 73 * 3;
                           }),
              lines.end());
}

TEST_F(CoreWithSim, RecordingOffAndOnAgainKeepsOnlyTheSecondPeriod) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    const std::string path = (dir / "traffic.txt").string();
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    view.savePaths.push_back(path);
    core->onOptionsBrowse();
    core->onOptionsOk(control::EscrowOption::Manual);
    ASSERT_NO_FATAL_FAILURE(runStartup()); // SETUP and identification recorded here
    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::Off);
    core->onOptionsOk(control::EscrowOption::Manual);
    EXPECT_FALSE(core->dataFileOpen());
    EXPECT_NE(test::readAll(path).find("vmc: 31"), std::string::npos);

    core->optionsCommand();
    core->onOptionsDataSaving(ui::DataSaving::ToFile);
    core->onOptionsOk(control::EscrowOption::Manual);
    ASSERT_EQ(sim->command("status 03"), "ok");
    loop->runFor(200ms);
    core->closeDataFile();
    const std::string text = test::readAll(path);
    EXPECT_EQ(text.find("vmc: 31"), std::string::npos);
    EXPECT_NE(text.find("vmc: 33 val: 03 03 \r\n"), std::string::npos);
}

TEST_F(CoreWithSim, LogFileSequenceRefreshesTheRecordsAndTheReportHoldsThem) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    const std::size_t framesBefore = test::logLines(log, {"\"dir\":\"rx\"", "\"frame\""}).size();
    // One byte of the statistics and of the sensors record is hit on the line: neither is taken,
    // both are asked for again, and the report holds the good ones.
    ASSERT_EQ(sim->commands({"fail stats flip", "fail sensors flip byte=3"}), "ok");
    core->createLogFileCommand();
    ASSERT_TRUE(core->logDialogOpen());
    ASSERT_TRUE(loop->runUntil(
        [&] {
            return core->controller().logCountdown() == 0 &&
                   core->linkData().state(REQ_OPTICS) == RequestState::Idle &&
                   core->linkData().state(REQ_SENSORS) == RequestState::Idle &&
                   core->linkData().state(REQ_STATISTICS) == RequestState::Idle;
        },
        10s));
    // Statistics, then sensors, then main optics went out; the two hit records twice.
    std::vector<std::string> order;
    std::map<std::string, int> sent;
    const auto frames = test::logLines(log, {"\"dir\":\"rx\"", "\"frame\""});
    for (std::size_t i = framesBefore; i < frames.size(); ++i)
        for (const char* fn : {"DD", "E9", "E8"})
            if (frames[i].find(std::string("37 FF 56 4E 54 00 ") + fn) != std::string::npos &&
                sent[fn]++ == 0)
                order.push_back(fn);
    EXPECT_EQ(order, (std::vector<std::string>{"DD", "E9", "E8"}));
    EXPECT_EQ(sent, (std::map<std::string, int>{{"DD", 2}, {"E9", 2}, {"E8", 1}}));
    core->busLog().takeNew();
    int faults = 0;
    for (const auto& k : core->busLog().kept())
        if (k.record.end == link::ExchangeEnd::ChecksumFault) ++faults;
    EXPECT_EQ(faults, 2);

    const fs::path report = dir / "Tavik_SIM0001.TXT";
    view.savePaths.push_back(report.string());
    core->onLogDialogOk(true, true, true, false, "SIM0001");
    const std::string text = test::readAll(report);
    // Values as the virtual validator encodes them: program revision, event 1 (0x0201), bill
    // type 0 (credit 1, 0x0102 accepted), the Sidelook group (gain 456h, target 133, reading 136).
    EXPECT_NE(text.find("          Unit Ser. Num.: SIM0001\r\n"), std::string::npos);
    EXPECT_NE(text.find("          Program Rev...: BV2.14-7\r\n"), std::string::npos);
    EXPECT_NE(text.find(" 01     Return Before Evaluation        513\r\n"), std::string::npos);
    EXPECT_NE(text.find(" 00    001   258\r\n"), std::string::npos);
    EXPECT_NE(text.find(" Sidelook\t 456      133      136      closed\r\n"), std::string::npos);
    EXPECT_NE(text.find("  PART III - MAIN OPTICS PARAMETERS\r\n"), std::string::npos);
    EXPECT_EQ(text.find("PART IV"), std::string::npos);
}

TEST_F(CoreWithSim, RejectedCouponOnTheVideoTestPageFetchesTheVideoRecord) {
    ASSERT_NO_FATAL_FAILURE(startWith({}, 20));
    ASSERT_NO_FATAL_FAILURE(runStartup());
    ASSERT_EQ(sim->command("coupon"), "ok"); // on page 0: no video request
    ASSERT_TRUE(loop->runUntil([&] { return eventsWithCode(0x0B) == 1; }, 5s));
    loop->runFor(100ms);
    EXPECT_TRUE(test::logLines(log, {"\"frame\":\"37 FF 56 4E 54 00 E7"}).empty());

    core->selectPage(Page::VideoTest);
    ASSERT_EQ(sim->command("coupon"), "ok");
    ASSERT_TRUE(loop->runUntil(
        [&] {
            return !test::logLines(log, {"\"frame\":\"37 FF 56 4E 54 00 E7"}).empty() &&
                   core->linkData().state(REQ_VIDEO) == RequestState::Idle;
        },
        5s));
    bool anyLevel = false;
    for (int ch = 0; ch < 5; ++ch)
        for (int col = 0; col < 4; ++col)
            anyLevel = anyLevel || core->videoTest().videoTrans[ch][col][0] != 0;
    EXPECT_TRUE(anyLevel);
}
