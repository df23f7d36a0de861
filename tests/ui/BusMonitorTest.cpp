// SPDX-License-Identifier: GPL-3.0-or-later
// The bus monitor's rows: filters, the texts of each kind of answer, search, CSV and the bound on
// what is kept.

#include "ui/core/BusMonitor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace norvex;
using namespace norvex::ui;
using link::ExchangeEnd;
using link::ExchangeRecord;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::uint8_t sum(const Bytes& b) {
    unsigned s = 0;
    for (std::uint8_t x : b)
        s += x;
    return static_cast<std::uint8_t>(s);
}

struct Bus {
    BusLog log;
    std::int64_t clock = 1000000;
    const std::int64_t wall = 1765000000000000; // 2025-12-06 05:46:40 UTC

    // One exchange: the frame leaves, the answer starts `replyUs` later, the ACK follows it.
    void exchange(Bytes frame, Bytes answer, ExchangeEnd end, std::int64_t replyUs = 1500,
                  bool repeat = false) {
        ExchangeRecord r;
        r.sentUs = clock;
        r.wallUs = wall + clock;
        r.frameLength = static_cast<std::uint8_t>(frame.size());
        std::copy(frame.begin(), frame.end(), r.frame.begin());
        std::copy(answer.begin(), answer.end(), r.answer.begin());
        r.received = static_cast<std::uint32_t>(answer.size());
        if (!answer.empty()) {
            r.firstUs = clock + replyUs;
            r.lastUs = r.firstUs + 1146 * static_cast<std::int64_t>(answer.size() - 1);
        }
        if (end == ExchangeEnd::AckSent) r.ackUs = r.lastUs + 250;
        r.end = end;
        r.repeat = repeat;
        log.add(r);
        clock += 100000;
    }
    void poll(Bytes answer, ExchangeEnd end = ExchangeEnd::AckSent) { exchange({0x33, 0x33}, answer, end); }
};

Bytes setupAnswer() {
    Bytes d = {0x01, 0x00, 0x01, 0x00, 0x64, 0x02, 0x01, 0x90, 0, 0, 0xFF, 5, 10, 20};
    d.resize(27, 0);
    d.push_back(sum(d));
    return d;
}

std::vector<std::string> column(const BusMonitor& m, int c) {
    std::vector<std::string> out;
    for (std::size_t r = 0; r < m.rowCount(); ++r)
        out.push_back(m.cell(r, c));
    return out;
}

class BusMonitorTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
};

} // namespace

TEST_F(BusMonitorTest, OneRowPerFrameAndPerAnswerWithWhatTheyMean) {
    Bus bus;
    bus.exchange({0x31, 0x31}, setupAnswer(), ExchangeEnd::AckSent, 2000);
    bus.poll({0x00}, ExchangeEnd::BareAck);
    bus.poll({0x81, 0x81});
    bus.poll({0xFF}, ExchangeEnd::Nak);
    bus.poll({}, ExchangeEnd::Silence);
    BusMonitor m(bus.log);
    const auto change = m.update();
    EXPECT_EQ(change.added, 9u);
    ASSERT_EQ(m.rowCount(), 9u);

    EXPECT_EQ(column(m, COLUMN_DIRECTION),
              (std::vector<std::string>{"sent", "received", "sent", "received", "sent", "received", "sent",
                                        "received", "sent"}));
    EXPECT_EQ(m.cell(0, COLUMN_TIME), "2025-12-06 05:46:41.000000");
    EXPECT_EQ(m.cell(1, COLUMN_TIME), "2025-12-06 05:46:41.002000");
    EXPECT_EQ(m.cell(0, COLUMN_COMMAND), "SETUP request");
    EXPECT_EQ(m.cell(1, COLUMN_COMMAND), "SETUP request");
    EXPECT_EQ(m.cell(1, COLUMN_MEANING),
              "level 1, country 0001, scaling 100, decimals 2, stacker 400, escrow yes; bill values: 0=5.00 "
              "1=10.00 2=20.00");
    EXPECT_EQ(m.cell(1, COLUMN_REPLY), "2.000 ms");
    EXPECT_EQ(m.cell(1, COLUMN_CHECKSUM), "ok");
    EXPECT_EQ(m.cell(0, COLUMN_CHECKSUM), "ok");
    EXPECT_EQ(m.cell(1, COLUMN_NOTE), "ACK sent 0.250 ms after the last byte, answer took 30.942 ms");
    EXPECT_EQ(m.cell(2, COLUMN_BYTES), "33 33");
    EXPECT_EQ(m.cell(3, COLUMN_MEANING), "ACK");
    EXPECT_EQ(m.cell(3, COLUMN_NOTE), "bare ACK");
    EXPECT_EQ(m.cell(3, COLUMN_CHECKSUM), "");
    // The bill's value comes from the SETUP answer before it.
    EXPECT_EQ(m.cell(5, COLUMN_MEANING), "bill stacked : 10.00");
    EXPECT_EQ(m.cell(7, COLUMN_MEANING), "NAK (frame refused)");
    EXPECT_EQ(m.cell(7, COLUMN_NOTE), "NAK");
    EXPECT_EQ(m.cell(8, COLUMN_NOTE), "no answer (silence)");
    EXPECT_FALSE(m.isFault(5));
    EXPECT_TRUE(m.isFault(7));
    EXPECT_TRUE(m.isFault(8));
}

TEST_F(BusMonitorTest, FiltersHidePollsAnsweredByABareAckPickACommandOrShowOnlyFaults) {
    Bus bus;
    bus.poll({0x00}, ExchangeEnd::BareAck);
    bus.poll({0x03, 0x03});
    bus.exchange({0x35, 0x01, 0x36}, {0x00}, ExchangeEnd::BareAck);
    bus.poll({0x90, 0x91}, ExchangeEnd::Purged); // wrong checksum, never completed
    bus.exchange({0x33, 0x33}, {0x90, 0x90}, ExchangeEnd::AckSent, 1500, true);
    bus.poll({0x00}, ExchangeEnd::BareAck);
    BusMonitor m(bus.log);
    m.update();
    EXPECT_EQ(m.rowCount(), 12u);

    m.setFilter({true, -1, false});
    EXPECT_EQ(column(m, COLUMN_BYTES), (std::vector<std::string>{"33 33", "03 03", "35 01 36", "00", "33 33",
                                                                 "90 91", "33 33", "90 90"}));
    m.setFilter({false, 0x35, false});
    EXPECT_EQ(column(m, COLUMN_COMMAND), (std::vector<std::string>{"ESCROW release", "ESCROW release"}));
    m.setFilter({false, -1, true});
    EXPECT_EQ(column(m, COLUMN_BYTES), (std::vector<std::string>{"33 33", "90 91", "33 33", "90 90"}));
    EXPECT_EQ(m.cell(1, COLUMN_CHECKSUM), "bad");
    EXPECT_EQ(m.cell(1, COLUMN_NOTE), "purged, answer took 1.146 ms");
    EXPECT_EQ(
        m.cell(3, COLUMN_NOTE),
        "ACK sent 0.250 ms after the last byte, answer took 1.146 ms, repeat of the unacknowledged answer");

    // New exchanges pass the filter as they come.
    bus.poll({0x00}, ExchangeEnd::BareAck);
    bus.poll({}, ExchangeEnd::Silence);
    const auto change = m.update();
    EXPECT_EQ(change.added, 1u);
    EXPECT_EQ(m.rowCount(), 5u);
}

TEST_F(BusMonitorTest, TheOldestGoFirstWhenTheBoundIsReached) {
    Bus bus;
    bus.log.setKeep(10); // raised to the smallest bound
    EXPECT_EQ(bus.log.keep(), BusLog::MIN_KEEP);
    BusMonitor m(bus.log);
    for (int i = 0; i < 150; ++i)
        bus.poll({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)});
    auto change = m.update();
    EXPECT_EQ(change.added, 200u);
    EXPECT_EQ(m.rowCount(), 200u);
    EXPECT_EQ(m.cell(1, COLUMN_BYTES), "32 32"); // exchange 50 is the oldest kept
    for (int i = 150; i < 160; ++i)
        bus.poll({0x03, 0x03});
    change = m.update();
    EXPECT_EQ(change.removedFront, 20u);
    EXPECT_EQ(change.added, 20u);
    EXPECT_EQ(m.cell(1, COLUMN_BYTES), "3C 3C");
    EXPECT_EQ(bus.log.forgotten(), 60u);
}

TEST_F(BusMonitorTest, SearchWrapsRoundAndIgnoresCase) {
    Bus bus;
    bus.poll({0x00}, ExchangeEnd::BareAck);
    bus.poll({0x0B, 0x0B});
    bus.poll({0x00}, ExchangeEnd::BareAck);
    BusMonitor m(bus.log);
    m.update();
    EXPECT_EQ(m.find("BILL REJ", 0), 3);
    EXPECT_EQ(m.find("bill rej", 4), 3);
    EXPECT_EQ(m.find("0B 0B", 0), 3);
    EXPECT_EQ(m.find("jammed", 0), -1);
    EXPECT_EQ(m.find("", 0), -1);
    // Backwards from a row, round the top to the bottom.
    EXPECT_EQ(m.find("33 33", 3, true), 2);
    EXPECT_EQ(m.find("bill rej", 2, true), 3);
    EXPECT_EQ(m.find("poll", 0), 0) << "the MDB name finds the STATUS requests";
}

TEST_F(BusMonitorTest, ARowIsFoundAgainAfterTheFilterChangedOrItsNearestSuccessor) {
    Bus bus;
    bus.poll({0x00}, ExchangeEnd::BareAck); // exchange 0: rows 0, 1
    bus.poll({0x0B, 0x0B});                 // exchange 1: rows 2, 3
    bus.poll({0x00}, ExchangeEnd::BareAck); // exchange 2: rows 4, 5
    bus.poll({0xFF}, ExchangeEnd::Nak);     // exchange 3: rows 6, 7
    BusMonitor m(bus.log);
    m.update();
    const BusMonitor::RowKey answer = m.key(3), bareAck = m.key(4), nak = m.key(7);
    m.setFilter({true, -1, false});
    EXPECT_EQ(m.rowOf(answer), 1) << "the same answer, where it is now";
    EXPECT_EQ(m.rowOf(bareAck), 2) << "hidden: the next row shown";
    m.setFilter({false, -1, true});
    EXPECT_EQ(m.rowOf(answer), 0);
    EXPECT_EQ(m.rowOf(nak), 1);
    EXPECT_EQ(m.rowOf({99, false}), 1) << "past the end: the last row";
    m.setFilter({false, 0x30, false});
    EXPECT_EQ(m.rowOf(answer), -1) << "no row shown";
}

// A capture saved over an earlier one: written whole or not at all (a full disk, a file-size
// limit), so that the earlier capture survives a failure.
TEST_F(BusMonitorTest, ASavedCaptureReplacesAnEarlierOneOnlyOnceItIsWhole) {
    Bus bus;
    for (int i = 0; i < 200; ++i)
        bus.poll({0x00});
    const auto dir =
        std::filesystem::temp_directory_path() / ("norvex-capture-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "bus.pcap").string();
    { std::ofstream(path, std::ios::binary) << "earlier capture"; }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1000, 1000}; // less than the capture needs
        std::string why;
        ::_exit(::setrlimit(RLIMIT_FSIZE, &limit) == 0 && !bus.log.saveCapture(path, why) &&
                        why.find("File too large") != std::string::npos
                    ? 0
                    : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::stringstream kept;
    kept << std::ifstream(path, std::ios::binary).rdbuf();
    EXPECT_EQ(kept.str(), "earlier capture");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
              1)
        << "no temporary file left";
    std::string error;
    ASSERT_TRUE(bus.log.saveCapture(path, error)) << error;
    EXPECT_GT(std::filesystem::file_size(path), 1000u);
    std::filesystem::remove_all(dir);
}

TEST_F(BusMonitorTest, CsvHoldsTheRowsShownQuotedWhereNeeded) {
    Bus bus;
    bus.exchange({0x34, 0x00, 0x03, 0x00, 0x01, 0x38}, {0x00}, ExchangeEnd::BareAck);
    bus.poll({0x06, 0x03, 0x09});
    BusMonitor m(bus.log);
    m.update();
    const std::string header = "time,direction,command,bytes,meaning,reply,checksum,note\r\n";
    EXPECT_EQ(m.csv({3}), header + "2025-12-06 05:46:41.101500,received,STATUS request (POLL),06 03 09,"
                                   "validator reset; validator busy,1.500 ms,ok,"
                                   "\"ACK sent 0.250 ms after the last byte, answer took 2.292 ms\"\r\n");
    EXPECT_EQ(m.csv({0}),
              header + "2025-12-06 05:46:41.000000,sent,TYPE_ESCR enable (BILL TYPE),34 00 03 00 01 38,"
                       "enabled: 0 1; escrow: 0,,ok,\r\n");
    EXPECT_EQ(m.tabText({2}), "2025-12-06 05:46:41.100000\tsent\tSTATUS request (POLL)\t33 33\t\t\tok\t\n");

    const auto path =
        std::filesystem::temp_directory_path() / ("norvex-monitor-" + std::to_string(::getpid()) + ".csv");
    std::string error;
    ASSERT_TRUE(m.exportCsv(path.string(), error)) << error;
    std::stringstream read;
    read << std::ifstream(path, std::ios::binary).rdbuf();
    const std::string text = read.str();
    EXPECT_EQ(text, m.csvAll());
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 5);
    std::filesystem::remove(path);
    m.setFilter({false, -1, true});
    EXPECT_EQ(m.csvAll(), header);
    EXPECT_FALSE(m.exportCsv("/nonexistent-dir/x.csv", error));
    EXPECT_NE(error.find("/nonexistent-dir/x.csv"), std::string::npos);
}

TEST_F(BusMonitorTest, HeardExchangesAreNamedByDeviceFilteredByAddressAndCapturedWithIt) {
    Bus bus;
    BusMonitor monitor(bus.log);
    // What a listener heard: the validator's bill, a coin in the changer without its ACK, the
    // bus reset, bytes that answer nothing.
    auto heard = [](std::uint8_t address, Bytes command, Bytes answer, int reply, std::uint16_t faults,
                    link::HeardKind kind = link::HeardKind::Exchange) {
        link::HeardExchange h;
        h.kind = kind;
        h.address = address;
        h.faults = faults;
        std::copy(command.begin(), command.end(), h.command.begin());
        h.commandLength = static_cast<std::uint8_t>(command.size());
        h.commandFirstUs = 1000;
        h.commandLastUs = 2146;
        h.wallUs = 1765000000000000;
        std::copy(answer.begin(), answer.end(), h.answer.begin());
        h.answerReceived = static_cast<std::uint32_t>(answer.size());
        if (!answer.empty()) h.answerFirstUs = 3900, h.answerLastUs = 5046;
        if (reply >= 0) h.replyUs = 6500, h.reply = static_cast<std::uint8_t>(reply);
        return h;
    };
    bus.log.addHeard(heard(0x30, {0x33, 0x33}, {0x81, 0x81}, 0x00, 0));
    bus.log.addHeard(heard(0x08, {0x0B, 0x0B}, {0x52, 0x07, 0x59}, -1, link::HEARD_MISSING_ACK));
    bus.log.addHeard(heard(0x08, {}, {}, -1, link::HEARD_RESET, link::HeardKind::BusReset));
    bus.log.addHeard(heard(0x08, {}, {0xE5, 0x5E}, -1, 0, link::HeardKind::PeripheralStray));
    bus.log.addHeard(heard(0x10, {0x12, 0x12}, {0x00}, -1, 0));
    monitor.update();
    ASSERT_EQ(monitor.rowCount(), 8u);
    EXPECT_EQ(monitor.cell(0, COLUMN_COMMAND), "bill validator STATUS request (POLL)");
    EXPECT_EQ(monitor.cell(0, COLUMN_DIRECTION), "controller");
    EXPECT_EQ(monitor.cell(1, COLUMN_DIRECTION), "peripheral");
    EXPECT_EQ(monitor.cell(1, COLUMN_REPLY), "0.608 ms");
    EXPECT_EQ(monitor.cell(1, COLUMN_NOTE), "ACK 0.308 ms after the last byte");
    EXPECT_EQ(monitor.cell(2, COLUMN_COMMAND), "coin changer POLL");
    EXPECT_EQ(monitor.cell(3, COLUMN_MEANING), "coin of type 2 to the tubes, 7 in the tube");
    EXPECT_EQ(monitor.cell(3, COLUMN_NOTE), "no ACK");
    EXPECT_EQ(monitor.cell(4, COLUMN_COMMAND), "bus reset");
    EXPECT_EQ(monitor.cell(5, COLUMN_COMMAND), "stray bytes on the peripherals' line");
    EXPECT_EQ(monitor.cell(6, COLUMN_COMMAND), "cashless 1 POLL");

    MonitorFilter f;
    f.address = 0x08;
    monitor.setFilter(f);
    EXPECT_EQ(monitor.rowCount(), 4u) << "the changer's POLL, the bus reset after it, the stray bytes";
    f = {};
    f.onlyFaults = true;
    monitor.setFilter(f);
    EXPECT_EQ(monitor.rowCount(), 4u) << "no ACK, the reset, the stray bytes";
    f = {};
    f.hidePollBareAck = true;
    monitor.setFilter(f);
    EXPECT_EQ(monitor.rowCount(), 6u) << "the cashless POLL answered by ACK hides";

    const std::string capture =
        (std::filesystem::temp_directory_path() / ("norvex-heard-" + std::to_string(::getpid()) + ".pcap"))
            .string();
    std::string error;
    ASSERT_TRUE(bus.log.saveCapture(capture, error)) << error;
    std::ifstream in(capture, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // The coin's answer carries the changer's address, the bus reset its own event.
    EXPECT_NE(bytes.find(std::string("\x00\xFE\x08\x52\x07\x59", 6)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("\x00\xFE\x30\x81\x81", 5)), std::string::npos);
    EXPECT_NE(bytes.find(std::string("\x00\xFD", 2)), std::string::npos);
    std::filesystem::remove(capture);
}
