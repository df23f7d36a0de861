// SPDX-License-Identifier: GPL-3.0-or-later
// The receive path of the MDB link and everything that reads what it assembled: the response
// assembler fed arbitrary frames and answer bytes in arbitrary read splits, and on each
// completion the main window's notification handler (standard answers, diagnostics decoders,
// traffic view), with page changes, paints, ticks and commands in between.
//
// The input is a script of one-byte opcodes with arguments (see the switch below). The link
// worker is played here, single-threaded: a frame leaves the transmit slot only on the
// "transmit" opcode, so answers may arrive while a frame waits in the slot, as on the line.

#include "ByteScript.h"
#include "FuzzTempDir.h"
#include "HeadlessView.h"

#include "control/RequestFrames.h"
#include "link/ResponseAssembler.h"
#include "link/SerialPort.h"
#include "ui/core/MainWindowLogic.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

using namespace norvex;
using namespace norvex::link;

namespace {

// A port that is never opened: START is not pressed here.
class NullPort : public SerialPort {
public:
    LinkResult open(const std::string& path, const LineSettings&) override {
        return LinkFault{FaultKind::NoPort, "no port in the fuzz target", 0, path};
    }
    void close() override {}
    bool isOpen() const override { return false; }
    std::size_t read(std::uint8_t*, std::size_t) override { return 0; }
    LinkResult write(const std::uint8_t*, std::size_t) override {
        return LinkFault{FaultKind::NotOpen, "no port in the fuzz target", 0, {}};
    }
    void purge() override {}
    void setDtr(bool) override {}
    int waitHandle() const override { return -1; }
    bool markParityHonoured() const override { return true; }
    bool failed() const override { return false; }
};

const std::string& tempDir() {
    static norvex::fuzz::TempDir dir;
    return dir.path;
}

constexpr std::size_t READ_CHUNK = 128; // the worker reads at most this much at once

constexpr std::uint8_t CODES[] = {RESP_POLL,  RESP_SETUP,  RESP_STACKER, RESP_SENSORS,
                                  RESP_IDENT, RESP_OPTICS, RESP_VIDEO,   RESP_STATS};

constexpr int COMMANDS[] = {
    cmd::RESET,
    cmd::SETUP_REQUEST,
    cmd::STATUS_REQUEST,
    cmd::CASS_INFO_REQUEST,
    cmd::POLL_20,
    cmd::POLL_200,
    cmd::ENABLE_ALL_BILLS,
    cmd::DISABLE_ALL_BILLS,
    cmd::ENABLE_ALL_ESCROW,
    cmd::DISABLE_ALL_ESCROW,
    cmd::ACCEPT_ESCROW,
    cmd::REJECT_ESCROW,
    cmd::DEVICE_ID_REQUEST,
    cmd::STATISTICS_REQUEST,
    cmd::SENSORS_REQUEST,
    cmd::OPTICS_REQUEST,
    cmd::VIDEO_REQUEST,
    cmd::CREATE_LOG_FILE,
    cmd::OPTIONS,
    ids::BAR_BUTTON,
    ids::OK,
    ids::CLEAR_STATS,
    ids::NEXT_EVENTS,
    ids::NEXT_BILLS,
    ids::OPTICS_RED,
    ids::OPTICS_RED + 1,
    ids::OPTICS_RED + 2,
    ids::OPTICS_RED + 3,
    ids::TRAFFIC_STOP,
};

[[noreturn]] void broken(const char* what, long value) {
    std::fprintf(stderr, "link invariant broken: %s (%ld)\n", what, value);
    std::abort();
}

// What must hold between any two bytes, whatever arrived.
void checkLink(LinkData& d, const Completion& c) {
    LinkData::Reception rx(d);
    const TrafficBuffer& traffic = rx.traffic();
    if (traffic.pos > TRAFFIC_SIZE) broken("traffic position past the buffer", traffic.pos);
    if (rx.diagCount() >= DIAG_BUFFER_SIZE) broken("diagnostic count past the buffer", rx.diagCount());
    for (int k = 0; k < REQ_COUNT; ++k)
        if (rx.record(static_cast<RequestKind>(k)).count > RECORD_DATA_SIZE)
            broken("record count past its data", k);
    if (rx.record(REQ_POLL).count > 16)
        broken("short answer longer than 16 bytes", rx.record(REQ_POLL).count);
    if (c.complete && c.code == RESP_POLL && (rx.shortAnswerLength() < 1 || rx.shortAnswerLength() > 17))
        broken("short answer length", rx.shortAnswerLength());
    const auto mode = d.responseMode.load();
    if (mode > MODE_IDLE) broken("response mode", mode);
    if (c.complete) {
        if (mode != MODE_IDLE) broken("mode after a completion", mode);
        if (c.ack && traffic.pos != 0) broken("traffic position after the acknowledge", traffic.pos);
        bool known = false;
        for (auto code : CODES)
            known = known || code == c.code;
        if (!known) broken("completion code", c.code);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteScript s(data, size);
    fuzz::HeadlessView view;
    fuzz::HeadlessSurface surface;
    fuzz::HeadlessSurface trafficImage;
    PortMap ports;
    ui::MainWindowLogic core(view, ports, [] { return std::make_unique<NullPort>(); });
    core.setSettingsDirectory(tempDir());
    core.options().dataFilePath = "/dev/null";
    core.options().previousDataFilePath = "/dev/null";
    core.onInitDialog();

    LinkData& link = core.linkData();
    ResponseAssembler assembler(link);
    std::array<std::uint8_t, TX_SLOT_SIZE> frame{};
    std::array<std::uint8_t, READ_CHUNK> chunk{};

    auto sendFrame = [&](const std::uint8_t* bytes, std::size_t n) {
        assembler.frameSent(bytes, n);
        checkLink(link, {});
    };
    // One read of the worker: fed byte by byte; a completion drops the rest of the read and is
    // handed to the main window at once.
    auto receive = [&](std::size_t n) {
        Completion done;
        for (std::size_t i = 0; i < n && !done.complete; ++i) {
            done = assembler.feed(chunk[i]);
            checkLink(link, done);
        }
        if (!done.complete) {
            done = assembler.endOfRead();
            checkLink(link, done);
        }
        if (done.complete) core.onLinkNotification(done.code);
    };
    // The line stays quiet after the last read (a timer tick is at least that long).
    auto quiet = [&] {
        const Completion done = assembler.lineQuiet();
        checkLink(link, done);
        if (done.complete) core.onLinkNotification(done.code);
    };

    int steps = 0;
    while (!s.empty() && ++steps < 4096) {
        switch (s.byte() % 24) {
        case 0: { // a request frame as the senders build it
            const auto kind = static_cast<RequestKind>(s.byte() % REQ_COUNT);
            const auto f = control::requestFrame(kind, s.u32());
            sendFrame(f.bytes.data(), f.length);
            break;
        }
        case 1: { // any frame that fits the slot
            const std::size_t n = s.byte() % (TX_SLOT_SIZE + 1);
            frame.fill(0);
            s.take(frame.data(), n);
            sendFrame(frame.data(), n);
            break;
        }
        case 2: { // a read of 1..128 bytes from the script
            const std::size_t n = 1 + s.byte() % READ_CHUNK;
            receive(s.take(chunk.data(), n));
            break;
        }
        case 3: { // a read of 1..128 copies of one byte (long records arrive quickly)
            const std::size_t n = 1 + s.byte() % READ_CHUNK;
            chunk.fill(s.byte());
            receive(n);
            break;
        }
        case 4:
            core.onTabChange(static_cast<int>(s.byte() % 8) - 1);
            break;
        case 5:
            core.onPaint(surface);
            break;
        case 6:
            core.controller().tick();
            break;
        case 7: { // the worker transmits what a sender left in the slot
            const std::size_t n = link.take(frame);
            if (n > 0) sendFrame(frame.data(), n);
            link.release();
            break;
        }
        case 8:
            core.onCommand(cmd::RESET);
            break;
        case 9: // START pressed, without a port: the senders fill the slot from here on
            if (!core.controller().started()) core.controller().beginRunning();
            break;
        case 10:
            core.onCommand(COMMANDS[s.byte() % std::size(COMMANDS)]);
            break;
        case 11: { // a click on the bill list, left or right
            view.selectedRow = static_cast<int>(s.byte() % 18) - 1;
            if (s.flag())
                core.onBillListRightClick();
            else
                core.onBillListClick();
            break;
        }
        case 12: {
            view.answer = s.flag() ? MsgResult::Yes : MsgResult::No;
            core.onEscrowAnswer(s.flag());
            break;
        }
        case 13: { // the Options dialog: escrow choice and traffic recording (to /dev/null)
            core.onOptionsDataSaving(s.flag() ? ui::DataSaving::ToFile : ui::DataSaving::Off);
            core.onOptionsOk(control::escrowOptionAt(s.byte() % 3));
            break;
        }
        case 14: // the binding keeps the traffic page in an image, or not
            core.setTrafficImage(s.flag() ? &trafficImage : nullptr);
            break;
        case 15: // a notification with whatever the buffers hold
            core.onLinkNotification(CODES[s.byte() % std::size(CODES)]);
            break;
        case 16:
            quiet();
            core.onTimer();
            break;
        case 17:
            core.onComSelection(static_cast<int>(s.byte() % 6) - 1);
            break;
        case 18:
            if (const auto page = pageAtTab(static_cast<int>(s.byte() % 8) - 1)) core.selectPage(*page);
            break;
        case 19: { // the log file dialog: OK (report written or the save dialog cancelled), Cancel, Video box
            const std::uint8_t choice = s.byte();
            core.createLogFileCommand();
            if (choice % 3 == 0) {
                view.savePath = (choice & 0x80) ? tempDir() + "/report.TXT" : std::string();
                core.onLogDialogOk(choice & 0x08, choice & 0x10, choice & 0x20, choice & 0x40, "TV0123");
                view.savePath.clear();
            } else if (choice % 3 == 1) {
                core.onLogDialogCancel();
            } else {
                core.onLogVideoBoxClicked();
            }
            break;
        }
        case 20: { // the Options dialog: Browse to one of two files, then OK or Cancel
            const std::uint8_t choice = s.byte();
            core.optionsCommand();
            if (choice & 1) {
                view.savePath = (choice & 2) ? tempDir() + "/MDB_DATA.TXT" : std::string("/dev/null");
                core.onOptionsBrowse();
                view.savePath.clear();
            }
            if (choice & 4)
                core.onOptionsOk(control::escrowOptionAt(choice >> 4 & 3));
            else
                core.onOptionsCancel();
            break;
        }
        case 21:
            core.onLinkFailed({FaultKind::Vanished, "the port reported a hang-up", 0, "/dev/ttyUSB0"});
            break;
        case 22: { // a run of ticks with nothing answered: time-outs and repeats
            const int ticks = s.byte() % 64;
            for (int i = 0; i < ticks; ++i) {
                core.onTimer();
                const std::size_t n = link.take(frame);
                if (n > 0) sendFrame(frame.data(), n);
                link.release();
            }
            break;
        }
        case 23:
            core.stopLinkForDownload();
            break;
        }
    }
    core.onPaint(surface);
    core.onDestroy();
    return 0;
}
