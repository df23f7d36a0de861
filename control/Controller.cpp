// SPDX-License-Identifier: GPL-3.0-or-later
#include "Controller.h"

#include "Format.h"
#include "RequestFrames.h"

#include <algorithm>
#include <cstdio>

namespace norvex::control {

using namespace link;

namespace {

constexpr int BILL_TYPES = 16;
constexpr std::uint32_t RUN_CLOCK_LIMIT = 0xFFFFFF00u;
constexpr std::uint32_t STARTUP_TICKS = 25;
constexpr std::uint32_t LOG_TICKS = 25;
constexpr std::uint8_t NAK = 0xFF;

// Kinds the tick tries before falling back to the POLL step, most urgent first.
constexpr RequestKind PRIORITY[] = {REQ_RESET,         REQ_TYPE_ESCR, REQ_SETUP,      REQ_ESCROW_STACK,
                                    REQ_ESCROW_RETURN, REQ_CASS_INFO, REQ_SENSORS,    REQ_OPTICS,
                                    REQ_VIDEO,         REQ_DEVICE_ID, REQ_STATISTICS, REQ_CLEAR_STATS};

const char* const STATUS_TEXTS[] = {nullptr,
                                    "defective motor",
                                    "sensor problem",
                                    "validator busy",
                                    "checksum error",
                                    "validator jammed",
                                    "validator reset",
                                    "bill removed",
                                    "cass. disconnected",
                                    "validator disabled",
                                    "inv. escr. req.",
                                    "bill rejected",
                                    "possible credited bill removal"};

// Routing of an accepted-bill byte 1rrr tttt.
const char* const ROUTING_TEXTS[8] = {"bill stacked :",      "bill escrowed :",    "bill returned",
                                      "bill not used",       "dis. bill rejected", "bill to recycler man.",
                                      "bill disp. manually", "recycler to cashbox"};

// Bytes from the validator shown as text: printable ASCII as it is, anything else as '?'. The
// text ends at a NUL byte.
std::string printable(const std::uint8_t* bytes, std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n && bytes[i] != 0; ++i)
        s.push_back(bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?');
    return s;
}

std::string startCell(int type) {
    return format(" Type %02d  ___", type);
}

struct HistoryGeometry {
    Rect area;
    int x; // codes; the texts start 40 pixels further right
    const char* title;
    int frameLeft, frameRight;
};
constexpr HistoryGeometry EVENT_GEOMETRY{areas::EVENT_HISTORY, 290, "VALIDATOR - STATUS", 276, 502};
constexpr HistoryGeometry COMMAND_GEOMETRY{areas::COMMAND_HISTORY, 60, "CONTROLLER - COMMAND", 48, 266};

void drawHistory(PaintSurface& s, const HistoryList& h, const HistoryGeometry& g) {
    s.fillRect(g.area, colours::BLACK);
    s.drawText(g.x, g.area.top + 12, g.title, colours::GREY, colours::BLACK);
    for (int k = 0; k < HistoryList::SIZE && h.codes[k] != 0; ++k) {
        const int y = g.area.top + 34 + 15 * k;
        s.drawText(g.x, y, format("(%02Xh)", static_cast<unsigned>(h.codes[k])), colours::GREY,
                   colours::BLACK);
        s.drawText(g.x + 40, y, h.texts[k], colours::GREEN, colours::BLACK);
    }
    const int top = g.area.top + 10, rule = g.area.top + 30, bottom = g.area.bottom - 10;
    s.drawLine(g.frameLeft, top, g.frameLeft, bottom, colours::TEAL, 1);
    s.drawLine(g.frameRight, top, g.frameRight, bottom, colours::TEAL, 1);
    for (int y : {top, rule, bottom})
        s.drawLine(g.frameLeft, y, g.frameRight, y, colours::TEAL, 1);
}

} // namespace

Controller::Controller(LinkData& data, View& view) : data_(data), view_(view) {}

// --- texts ------------------------------------------------------------------------------------

std::string Controller::eventText(std::uint8_t b, std::uint16_t credit) {
    if (b == NAK) return "NAK (frame refused)";
    if (b & 0x80) return routingText(b) + format(" %u.00", static_cast<unsigned>(credit));
    if (b >= 0x01 && b <= 0x0C) return STATUS_TEXTS[b];
    if ((b & 0xE0) == 0x40) return format("disabled bill attempts: %u", static_cast<unsigned>(b & 0x1F));
    return "unknown status";
}

std::string Controller::routingText(std::uint8_t b) {
    return ROUTING_TEXTS[(b >> 4) & 7];
}

std::string Controller::eventTextValueUnknown(std::uint8_t b) {
    return std::string(ROUTING_TEXTS[(b >> 4) & 7]) +
           format(" type %u (value unknown: no SETUP heard yet)", static_cast<unsigned>(b & 0x0F));
}

std::string Controller::commandText(std::uint8_t code) {
    return std::string(commandName(code));
}

std::string Controller::billTypeCell(int type, unsigned credit) {
    return format(" Type %02d  %03u", type, credit);
}

std::string Controller::pollCaption(unsigned periodMs) {
    return format("%s %u ms", "activity monitor - poll timer", periodMs);
}

// --- start-up ---------------------------------------------------------------------------------

void Controller::initBillList() {
    for (int i = 0; i < BILL_TYPES; ++i) {
        view_.setBillCell(i, 0, startCell(i));
        for (int c = 1; c < 4; ++c)
            view_.setBillCell(i, c, "____");
        view_.setBillBox(i, false);
    }
}

void Controller::initHistories() {
    events_.clear();
    commands_.clear();
}

void Controller::showLastCredit() {
    const unsigned v = v_.lastCredit;
    const int digits[4] = {static_cast<int>(v / 1000 % 10), static_cast<int>(v / 100 % 10),
                           static_cast<int>(v / 10 % 10), static_cast<int>(v % 10)};
    for (int i = 0; i < 4; ++i)
        view_.setCreditDigit(i, digits[i]);
}

// --- START, tick, period -----------------------------------------------------------------------

void Controller::beginRunning() {
    data_.setState(REQ_RESET, RequestState::Requested);
    view_.setFieldText(ids::PAGE_FRAME, pollCaption(pollPeriodMs_));
    view_.startPollTimer(pollPeriodMs_);
    started_ = true;
    view_.enableControl(ids::START, false);
    view_.enableControl(ids::COM_SELECTOR, false);
    reconnectAllowed_ = true;
    view_.enableBarControl(Page::CommandStatus, ids::BAR_BUTTON, true);
}

void Controller::tick() {
    if (!started_) return; // a tick left in the queue after the timer was stopped

    runClockMs_ += pollPeriodMs_;
    if (runClockMs_ > RUN_CLOCK_LIMIT) runClockMs_ = 0;

    // The enable step needs the credits of the SETUP answer: while SETUP is still on its way,
    // the start-up sequence waits at this step.
    const bool holdStartup = startupCountdown_ == 1 && data_.state(REQ_SETUP) != RequestState::Idle;

    if (startupCountdown_ == 20) data_.setState(REQ_SETUP, RequestState::Requested);
    if (startupCountdown_ == 10) data_.setState(REQ_DEVICE_ID, RequestState::Requested);
    if (logCountdown_ == 20) data_.setState(REQ_STATISTICS, RequestState::Requested);
    if (logCountdown_ == 12) data_.setState(REQ_SENSORS, RequestState::Requested);
    if (logCountdown_ == 5) data_.setState(REQ_OPTICS, RequestState::Requested);
    if (startupCountdown_ == 1 && !holdStartup) enableAllBillTypes(true);

    bool sent = false;
    for (RequestKind k : PRIORITY) {
        if (data_.state(k) == RequestState::Requested) {
            send(k);
            sent = true;
            break;
        }
    }
    if (!sent) pollStep();

    if (startupCountdown_ > 0 && !holdStartup) --startupCountdown_;
    if (logCountdown_ > 0) --logCountdown_;
}

void Controller::pollStep() {
    for (RequestKind k : AWAITED_ORDER) {
        if (data_.state(k) == RequestState::Idle) continue;
        // A frame still waiting in the slot (held while another answer arrives) has not gone
        // out yet: its answer's clock starts when the worker sends it.
        if (k == lastSent_ && data_.slotBusy()) continue;
        const std::uint32_t elapsed = data_.addElapsedMs(k, pollPeriodMs_);
        if (elapsed > requestInfo(k).timeoutMs) {
            data_.setState(k, RequestState::Requested);
            return;
        }
    }
    for (RequestKind k : AWAITED_ORDER)
        if (data_.state(k) != RequestState::Idle) return;
    if (data_.slotBusy()) return;
    const RequestFrame f = requestFrame(REQ_POLL);
    if (data_.submit(f.bytes.data(), f.length)) lastSent_ = REQ_POLL;
}

void Controller::send(RequestKind kind) {
    if (data_.slotBusy()) return;
    const RequestInfo& info = requestInfo(kind);
    if (info.stateAfterSend) data_.setState(kind, *info.stateAfterSend);
    const RequestFrame f = requestFrame(kind, v_.billMask);
    if (!data_.submit(f.bytes.data(), f.length)) {
        // The worker queued its acknowledge in the meantime: try again at the next tick.
        data_.setState(kind, RequestState::Requested);
        return;
    }
    lastSent_ = kind;
    if (info.historyCode != 0) addCommand(info.historyCode);
}

void Controller::addCommand(std::uint8_t code) {
    const std::string text = commandText(code);
    commands_.add(code, text);
    if (currentPage_ == Page::CommandStatus) view_.invalidate(areas::COMMAND_HISTORY, false);
    if (observer_) observer_->commandAdded(runClockMs_, code, text);
}

void Controller::setPollPeriod(unsigned ms) {
    if (ms == 0) return; // a zero period would stop every count
    pollPeriodMs_ = ms;
    if (started_) {
        view_.stopPollTimer();
        view_.startPollTimer(ms);
    }
    view_.setFieldText(ids::PAGE_FRAME, pollCaption(ms));
}

void Controller::reconnect() {
    startupCountdown_ = STARTUP_TICKS;
}

void Controller::startLogSequence() {
    if (started_) logCountdown_ = LOG_TICKS;
}

// --- raising requests ---------------------------------------------------------------------------

void Controller::request(RequestKind kind) {
    if (started_) forceRequest(kind);
}

void Controller::forceRequest(RequestKind kind) {
    if (kind >= 0 && kind < REQ_COUNT) data_.setState(kind, RequestState::Requested);
}

void Controller::statusRequest() {
    request(REQ_POLL);
}

void Controller::enableAllBillTypes(bool on) {
    if (!started_) return;
    for (int i = 0; i < BILL_TYPES; ++i)
        if (v_.billCredit[i] != 0) setBillEnabled(i, on);
    data_.setState(REQ_TYPE_ESCR, RequestState::Requested);
}

void Controller::enableAllBillsEscrow(bool on) {
    if (!started_) return;
    for (int i = 0; i < BILL_TYPES; ++i)
        if (v_.billCredit[i] != 0) setEscrowEnabled(i, on);
    data_.setState(REQ_TYPE_ESCR, RequestState::Requested);
}

void Controller::setBillEnabled(int type, bool on) {
    if (type < 0 || type >= BILL_TYPES) return;
    v_.billEnabled[type] = on ? 1 : 0;
    view_.setBillBox(type, on);
    view_.setBillCell(type, 1, on ? "EN" : "dis");
    const std::uint32_t bit = 1u << (16 + type);
    v_.billMask = on ? (v_.billMask | bit) : (v_.billMask & ~bit);
}

void Controller::setEscrowEnabled(int type, bool on) {
    if (type < 0 || type >= BILL_TYPES) return;
    v_.escrowEnabled[type] = on ? 1 : 0;
    view_.setBillCell(type, 2, on ? "EN" : "dis");
    const std::uint32_t bit = 1u << type;
    v_.billMask = on ? (v_.billMask | bit) : (v_.billMask & ~bit);
}

void Controller::escrowAnswered(bool accept) {
    forceRequest(accept ? REQ_ESCROW_STACK : REQ_ESCROW_RETURN);
    escrowPromptOpen_ = false;
}

// --- interpretation -----------------------------------------------------------------------------

bool Controller::interpretStandard(std::uint8_t code) {
    switch (code) {
    case RESP_POLL:
        interpretPoll();
        data_.setState(REQ_POLL, RequestState::Idle);
        return true;
    case RESP_SETUP:
        interpretSetup();
        data_.setState(REQ_SETUP, RequestState::Idle);
        return true;
    case RESP_IDENT:
        interpretIdentification();
        data_.setState(REQ_DEVICE_ID, RequestState::Idle);
        return true;
    case RESP_STACKER:
        interpretStacker();
        data_.setState(REQ_CASS_INFO, RequestState::Idle);
        return true;
    default:
        return false;
    }
}

void Controller::interpretSetup() {
    setupHeard_ = true;
    const RecordBytes d = data_.recordData(REQ_SETUP);
    v_.featureLevel = d[0];
    v_.countryCode = static_cast<std::uint16_t>(d[1] << 8 | d[2]);
    v_.scalingFactor = static_cast<std::uint16_t>(d[3] << 8 | d[4]);
    v_.decimalPlaces = d[5];
    v_.stackerCapacity = static_cast<std::uint16_t>(d[6] << 8 | d[7]);
    view_.setFieldText(ids::FEATURE_LEVEL, format("%02X", static_cast<unsigned>(v_.featureLevel)));
    view_.setFieldText(ids::COUNTRY_CODE, format("%04X", static_cast<unsigned>(v_.countryCode)));
    view_.setFieldText(ids::SCALING_FACTOR, format("%u", static_cast<unsigned>(v_.scalingFactor)));
    view_.setFieldText(ids::DECIMAL_PLACES, format("%u", static_cast<unsigned>(v_.decimalPlaces)));
    view_.setFieldText(ids::STACKER_CAPACITY, format("%u", static_cast<unsigned>(v_.stackerCapacity)));

    for (int i = 0; i < BILL_TYPES; ++i) {
        v_.billCredit[i] = d[11 + i];
        if (v_.billCredit[i] == 0) continue; // rows of absent types keep their texts
        // The count column restarts with the list of reported types, and so does the count.
        v_.billCount[i] = 0;
        showBillRow(i);
    }
    setupSeen_ = true;
    if (currentPage_ == Page::Traffic) view_.invalidate(areas::PAGE, false);
    if (observer_) observer_->setupReceived();
}

void Controller::showBillRow(int i) {
    view_.setBillCell(i, 0, billTypeCell(i, v_.billCredit[i]));
    view_.setBillCell(i, 1, v_.billEnabled[i] ? "EN" : "dis");
    view_.setBillCell(i, 2, v_.escrowEnabled[i] ? "EN" : "dis");
    view_.setBillCell(i, 3, format("%03d", static_cast<int>(v_.billCount[i])));
}

void Controller::interpretIdentification() {
    const RecordBytes d = data_.recordData(REQ_DEVICE_ID);
    for (int i = 0; i < 3; ++i)
        v_.manufacturer[i] = static_cast<char>(d[i]);
    for (int i = 0; i < 8; ++i)
        v_.programRevision[i] = static_cast<char>(d[15 + i]);
    view_.setFieldText(ids::MANUFACTURER, printable(&d[0], 3));
    view_.setFieldText(ids::PROGRAM_REVISION, printable(&d[15], 8));
    if (currentPage_ == Page::Traffic) view_.invalidate(areas::PAGE, false);
    if (observer_) observer_->identificationReceived();
}

void Controller::interpretStacker() {
    const RecordBytes d = data_.recordData(REQ_CASS_INFO);
    v_.stackerStatus = static_cast<std::uint16_t>(d[0] << 8 | d[1]);
    if (currentPage_ == Page::Traffic) view_.invalidate(areas::PAGE, false);
}

void Controller::interpretPoll() {
    const ShortAnswer answer = data_.shortAnswer();
    const RecordBytes& d = answer.bytes;
    const bool anything = d[0] != 0;
    if (anything) {
        // The link framed the answer: its status bytes are the ones before the checksum, however
        // their sums run (80 80 00 is two bills). A bare NAK is reported as such. A 00 is no
        // status; it is passed over.
        const std::size_t length = std::min<std::size_t>(answer.length, 17);
        const std::size_t statuses = length <= 1 ? 1 : length - 1;
        for (std::size_t i = 0; i < statuses; ++i) {
            if (d[i] != 0) appendEvent(d[i]);
        }
        showLastCredit();
    }
    if (currentPage_ == Page::CommandStatus && anything) view_.invalidate(areas::EVENT_HISTORY, false);
    if (currentPage_ == Page::Traffic) view_.invalidate(areas::PAGE, false);
}

void Controller::appendEvent(std::uint8_t b) {
    std::string text;
    if (b == NAK) {
        // FF ends a short answer as the validator's refusal of the frame; it is no bill.
        text = eventText(b, 0);
    } else if (b & 0x80) {
        const int type = b & 0x0F;
        v_.lastCredit = v_.billCredit[type];
        // Listening, the values are known only once the machine's controller read the SETUP.
        text = listening_ && !setupHeard_ ? eventTextValueUnknown(b) : eventText(b, v_.lastCredit);
        if (b & 0x10) escrowDecision();
        ++v_.billCount[type];
        view_.setBillCell(type, 3, format("%03d", static_cast<int>(v_.billCount[type])));
    } else {
        v_.lastCredit = 0;
        text = eventText(b, 0);
        if (b == 0x0B && currentPage_ == Page::VideoTest) data_.setState(REQ_VIDEO, RequestState::Requested);
    }
    events_.add(b, text);
    if (observer_) observer_->eventAdded(runClockMs_, b, text);
}

void Controller::escrowDecision() {
    if (listening_) return;
    switch (escrowOption_) {
    case EscrowOption::AutoReturn:
        data_.setState(REQ_ESCROW_RETURN, RequestState::Requested);
        break;
    case EscrowOption::AutoStack:
        data_.setState(REQ_ESCROW_STACK, RequestState::Requested);
        break;
    case EscrowOption::Manual:
        if (escrowPromptOpen_) {
            view_.activateModeless(Modeless::EscrowPrompt);
        } else {
            view_.openModeless(Modeless::EscrowPrompt);
            escrowPromptOpen_ = true;
        }
        break;
    }
}

// --- bill list and RESET ------------------------------------------------------------------------

void Controller::onBillListClick() {
    const int row = view_.firstSelectedBillRow();
    if (row < 0 || row >= BILL_TYPES) return;
    if (!started_) {
        view_.messageBox("No connection", "Info", MsgButtons::Ok, MsgIcon::None);
        return;
    }
    setBillEnabled(row, v_.billEnabled[row] == 0);
    data_.setState(REQ_TYPE_ESCR, RequestState::Requested);
}

void Controller::onBillListRightClick() {
    const int row = view_.firstSelectedBillRow();
    if (row < 0 || row >= BILL_TYPES) return;
    if (v_.billEnabled[row] == 0) {
        view_.messageBox("Selected Bill Not Enabled", "Info", MsgButtons::Ok, MsgIcon::None);
        return;
    }
    setEscrowEnabled(row, v_.escrowEnabled[row] == 0);
    data_.setState(REQ_TYPE_ESCR, RequestState::Requested);
}

void Controller::resetValidatorView() {
    if (!started_) return;
    for (int i = 0; i < BILL_TYPES; ++i) {
        view_.setBillCell(i, 0, startCell(i));
        view_.setBillCell(i, 1, "____");
        view_.setBillCell(i, 2, "____");
        view_.setBillBox(i, false);
    }
    v_.billMask = 0;
    v_.billEnabled.fill(0);
    v_.escrowEnabled.fill(0);
    // The worker may be assembling an answer into these records right now.
    data_.resetReception();
    // Every awaited answer is given up as well, so an answer that never comes cannot hold the
    // POLL back for good.
    for (RequestKind k : {REQ_SETUP, REQ_RESET, REQ_ESCROW_STACK, REQ_ESCROW_RETURN, REQ_CASS_INFO,
                          REQ_DEVICE_ID, REQ_SENSORS, REQ_OPTICS, REQ_VIDEO, REQ_STATISTICS})
        data_.setState(k, RequestState::Idle);

    v_.featureLevel = 0;
    v_.countryCode = 0;
    v_.scalingFactor = 0;
    v_.decimalPlaces = 0;
    v_.stackerCapacity = 0;
    v_.stackerStatus = 0;
    for (int id = ids::FEATURE_LEVEL; id <= ids::PROGRAM_REVISION; ++id)
        view_.setFieldText(id, "0");

    data_.setState(REQ_RESET, RequestState::Requested);
}

// --- drawing ------------------------------------------------------------------------------------

void Controller::drawEventHistory(PaintSurface& surface) const {
    drawHistory(surface, events_, EVENT_GEOMETRY);
}

void Controller::drawCommandHistory(PaintSurface& surface) const {
    drawHistory(surface, commands_, COMMAND_GEOMETRY);
}

} // namespace norvex::control
