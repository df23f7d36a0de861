// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainWindowLogic.h"

#include "control/BusDecoder.h"
#include "control/Format.h"
#include "control/LinkFaultText.h"
#include "control/RequestFrames.h"
#include "history/History.h"
#include "history/HistoryWriter.h"
#include "link/PortDiagnosis.h"

#include <cstdio>
#include <ctime>

namespace norvex::ui {

using namespace norvex::link;

namespace {

std::tm localNow() {
    const std::time_t t = std::time(nullptr);
    std::tm out{};
    localtime_r(&t, &out);
    return out;
}

constexpr const char* STOP_TEXT_NEXT_EVENTS = "Next 9";
constexpr const char* STOP_TEXT_PREV_EVENTS = "Prev 9";
constexpr const char* STOP_TEXT_NEXT_BILLS = "Next 8";
constexpr const char* STOP_TEXT_PREV_BILLS = "Prev 8";

} // namespace

MainWindowLogic::MainWindowLogic(View& view, PortMap& ports, PortFactory factory)
    : view_(view), ports_(ports), comLink_(data_, ports, std::move(factory)), controller_(data_, view),
      clock_(localNow) {
    comLink_.setRecorder(&busLog_.recorder());
}

MainWindowLogic::~MainWindowLogic() {
    // The worker must be gone before the records it writes are released.
    comLink_.closePort();
}

// --- start-up and shut-down -----------------------------------------------------------------------

void MainWindowLogic::onInitDialog() {
    std::string warning;
    const int port = loadSettings(settingsDir_, &warning);
    comLink_.setPortNumber(port);
    view_.selectComPort(port);

    controller_.initBillList();
    controller_.showLastCredit();

    // State start values: the records are fresh, the traffic buffer empty.
    data_.clearTraffic();
    options_ = OptionsState{};
    controller_.setEscrowOption(options_.escrowOption);

    controller_.initHistories();
    traffic_.resetTrafficView();
    diagnostics::resetSensors(sensors_);
    diagnostics::resetOptics(optics_);
    diagnostics::resetVideoTest(video_);
    diagnostics::resetStatistics(stats_);

    switchPage(Page::CommandStatus);
}

void MainWindowLogic::onDestroy(const std::function<void()>& handlePending) {
    stopListening();
    controller_.shutdown(comLink_, handlePending);
    closeDataFile();
    // Records read since the last report are kept too (without a report of their own).
    if (readings_.unsaved()) storeVisit(0, logSerialNumber_, clock_());
    finishHistory();
    busLog_.takeNew(); // the last exchange, finished as the worker ended
    busLog_.stopCapture();
}

// --- paint ----------------------------------------------------------------------------------------

void MainWindowLogic::onPaint(PaintSurface& surface) {
    view_.setWindowTitle(WINDOW_TITLE);
    switch (currentPage()) {
    case Page::CommandStatus:
        controller_.drawEventHistory(surface);
        controller_.drawCommandHistory(surface);
        break;
    case Page::Statistics:
        surface.fillRect(areas::PAGE, colours::BLACK);
        diagnostics::drawStatisticsPage(surface, stats_, billsFirstHalf_, eventsFirstHalf_);
        break;
    case Page::Sensors:
        surface.fillRect(areas::PAGE, colours::BLACK);
        diagnostics::drawSensorsPage(surface, sensors_);
        break;
    case Page::MainOptics:
        surface.fillRect(areas::PAGE, colours::BLACK);
        diagnostics::drawOpticsPage(surface, optics_, optics_.selectedColour);
        break;
    case Page::VideoTest:
        surface.fillRect(areas::PAGE, colours::BLACK);
        diagnostics::drawVideoTestPage(surface, video_);
        break;
    case Page::Traffic:
        if (trafficImage_ != nullptr) {
            // Each exchange was drawn into the image when it arrived; here only a reset is due.
            traffic_.prepareTrafficPage(*trafficImage_);
        } else {
            traffic_.paintTrafficPage(surface, data_.trafficSnapshot());
        }
        break;
    }
}

// --- START, timer, notifications --------------------------------------------------------------------

std::string MainWindowLogic::lineNote(bool markParity, link::Framing framing, link::WorkerPriority priority) {
    // The driver may not put a ninth bit on the line: two stop bits give every byte the same
    // waveform as a mode bit of 1.
    std::string note = markParity ? "mode bit: mark parity" : "mode bit: 2 stop bits (no mark parity)";
    switch (framing) {
    case link::Framing::ModeBit:
        note += "; framed by the mode bit";
        break;
    case link::Framing::MarksUnreliable:
        note += "; marks unreliable: checksum + quiet line";
        break;
    case link::Framing::QuietLine:
        note += "; framed by checksum + quiet line";
        break;
    }
    // Whether the acknowledge can be relied on to leave within MDB's 5 ms on a busy machine.
    switch (priority) {
    case link::WorkerPriority::RealTime:
        return note + "; real-time";
    case link::WorkerPriority::Normal:
        return note + "; not real-time";
    case link::WorkerPriority::Unknown:
        break;
    }
    return note;
}

void MainWindowLogic::showLineNote() {
    shownFraming_ = comLink_.framing();
    shownPriority_ = comLink_.workerPriority();
    view_.setFieldText(ids::LINE_NOTE, lineNote(comLink_.markParity(), shownFraming_, shownPriority_));
}

void MainWindowLogic::onStart(LinkNotifier& notifier) {
    if (listening()) {
        view_.messageBox(listeningRefusal(), "Info", MsgButtons::Ok, MsgIcon::None);
        return;
    }
    if (!controller_.start(comLink_, notifier)) return;
    linkFailureReported_ = false;
    showLineNote();
}

void MainWindowLogic::onTimer() {
    if (listener_) takeHeard();
    busLog_.takeNew();
    sendTypedIfIdle();
    controller_.tick();
}

void MainWindowLogic::onLinkNotification(std::uint8_t code) {
    // The records as they arrived, for the service history (the worker waits meanwhile).
    using Record = ReadingCollector::Record;
    switch (code) {
    case RESP_IDENT:
        readings_.received(Record::Ident, data_.recordData(REQ_DEVICE_ID).data(), 29);
        break;
    case RESP_SETUP:
        readings_.received(Record::Setup, data_.recordData(REQ_SETUP).data(), 27);
        break;
    case RESP_SENSORS:
        readings_.received(Record::Sensors, data_.recordData(REQ_SENSORS).data(),
                           diagnostics::SENSORS_DATA_BYTES);
        break;
    case RESP_OPTICS:
        readings_.received(Record::Optics, data_.diagData().data(), diagnostics::OPTICS_DATA_BYTES);
        break;
    case RESP_VIDEO:
        readings_.received(Record::Video, data_.diagData().data(), diagnostics::VIDEO_TEST_DATA_BYTES);
        break;
    case RESP_STATS:
        readings_.received(Record::Statistics, data_.diagData().data(), diagnostics::STATISTICS_DATA_BYTES);
        break;
    default:
        break;
    }
    busLog_.takeNew();
    if (!controller_.interpretStandard(code)) {
        const Page page = currentPage();
        switch (code) {
        case RESP_SENSORS:
            diagnostics::decodeSensors(data_.recordData(REQ_SENSORS).data(), sensors_);
            data_.setState(REQ_SENSORS, RequestState::Idle);
            if (page == Page::Sensors || page == Page::Traffic) view_.invalidate(areas::DATA, false);
            break;
        case RESP_OPTICS:
            diagnostics::decodeOptics(data_.diagData().data(), optics_);
            data_.setState(REQ_OPTICS, RequestState::Idle);
            if (page == Page::MainOptics || page == Page::Traffic) view_.invalidate(areas::PAGE, false);
            break;
        case RESP_VIDEO:
            diagnostics::decodeVideoTest(data_.diagData().data(), video_);
            data_.setState(REQ_VIDEO, RequestState::Idle);
            if (page == Page::VideoTest || page == Page::Traffic) view_.invalidate(areas::DATA, false);
            break;
        case RESP_STATS:
            diagnostics::decodeStatistics(data_.diagData().data(), stats_);
            data_.setState(REQ_STATISTICS, RequestState::Idle);
            if (page == Page::Statistics || page == Page::Traffic) view_.invalidate(areas::DATA, false);
            break;
        default:
            break;
        }
    }
    // While listening, every device's answers are recorded as they are heard.
    if (recorder_.isOpen() && !listening()) recordTraffic();
    // The framing is learnt from what the port delivers while the link runs.
    if ((comLink_.framing() != shownFraming_ || comLink_.workerPriority() != shownPriority_) &&
        comLink_.workerRunning())
        showLineNote();
    if (trafficImage_ != nullptr && currentPage() == Page::Traffic && !traffic_.trafficStopped()) {
        data_.withTraffic([this](const TrafficBuffer& t) { traffic_.appendExchange(*trafficImage_, t); });
        view_.invalidate(areas::PAGE, false);
    }
}

void MainWindowLogic::recordTraffic() {
    const DataRecorder::WriteResult written = data_.withTraffic(
        [this](const TrafficBuffer& t) { return recorder_.writeTrafficRecord(controller_.runClockMs(), t); });
    if (written == DataRecorder::WriteResult::Failed) {
        // Recording has stopped; the Options dialog shows it off and a later OK may retry.
        options_.dataSavingOption = DataSaving::Off;
        options_.appliedDataSaving = DataSaving::Off;
        lastFileError_ = recorder_.lastError();
        view_.messageBox(recorder_.lastError(), "Info", MsgButtons::Ok, MsgIcon::Warning);
    }
}

void MainWindowLogic::onLinkFailed(const link::LinkFault& fault) {
    if (linkFailureReported_) return;
    linkFailureReported_ = true;
    // The worker has left its loop on the fault. The window shows the true state before the
    // message waits for its OK: no port open, START and the port selector usable.
    view_.beep();
    controller_.linkLost(comLink_);
    view_.setFieldText(ids::LINE_NOTE, "");
    view_.messageBox(control::linkFaultText(fault), control::COM_ERROR_CAPTION, MsgButtons::Ok,
                     MsgIcon::Warning);
}

// --- pages ------------------------------------------------------------------------------------------

void MainWindowLogic::onTabChange(int index) {
    if (const std::optional<Page> page = pageAtTab(index)) {
        if (*page == Page::Traffic) {
            traffic_.resetTrafficView();
            traffic_.setTrafficViewReset(true);
            // The page image is cleared now, so that an exchange arriving before the first
            // paint is drawn on the fresh page instead of being wiped by it.
            if (trafficImage_ != nullptr) traffic_.prepareTrafficPage(*trafficImage_);
        }
        controller_.setCurrentPage(*page);
        view_.invalidate(areas::PAGE, true);
    }
    switchPage(currentPage());
}

void MainWindowLogic::selectPage(Page page) {
    view_.selectTab(page);
    controller_.setCurrentPage(page);
    view_.invalidate(areas::PAGE, true);
    switchPage(page);
}

void MainWindowLogic::switchPage(Page page) {
    if (shownBar_ == page) {
        view_.activateBar(page);
        return;
    }
    if (shownBar_) view_.destroyBar(*shownBar_);
    shownBar_.reset();
    // A bar's own state starts afresh each time its page is entered.
    switch (page) {
    case Page::Statistics:
        billsFirstHalf_ = true;
        eventsFirstHalf_ = true;
        break;
    case Page::MainOptics:
        optics_.selectedColour = 0;
        break;
    case Page::Traffic:
        traffic_.setTrafficStopped(false);
        break;
    default:
        break;
    }
    view_.createBar(page);
    shownBar_ = page;
    if (page == Page::CommandStatus)
        view_.enableBarControl(Page::CommandStatus, ids::BAR_BUTTON, controller_.reconnectAllowed());
}

void MainWindowLogic::onComSelection(int index) {
    if (index < 0 || index >= PORT_COUNT) return;
    comLink_.setPortNumber(index);
    std::string error;
    if (!saveSettings(settingsDir_, index, error)) {
        lastFileError_ = error;
        if (!settingsErrorReported_) {
            settingsErrorReported_ = true;
            view_.messageBox(error, "Info", MsgButtons::Ok, MsgIcon::Warning);
        }
    }
}

void MainWindowLogic::onBillListClick() {
    if (listening()) {
        view_.messageBox(listeningRefusal(), "Info", MsgButtons::Ok, MsgIcon::None);
        return;
    }
    controller_.onBillListClick();
}
void MainWindowLogic::onBillListRightClick() {
    if (listening()) {
        view_.messageBox(listeningRefusal(), "Info", MsgButtons::Ok, MsgIcon::None);
        return;
    }
    controller_.onBillListRightClick();
}

// --- commands ---------------------------------------------------------------------------------------

namespace {

// Menu commands and bar buttons that make the link send something.
bool transmits(int id) {
    switch (id) {
    case cmd::RESET:
    case cmd::SETUP_REQUEST:
    case cmd::STATUS_REQUEST:
    case cmd::CASS_INFO_REQUEST:
    case cmd::CREATE_LOG_FILE:
    case cmd::ENABLE_ALL_BILLS:
    case cmd::DISABLE_ALL_BILLS:
    case cmd::ENABLE_ALL_ESCROW:
    case cmd::DISABLE_ALL_ESCROW:
    case cmd::ACCEPT_ESCROW:
    case cmd::REJECT_ESCROW:
    case cmd::DEVICE_ID_REQUEST:
    case cmd::STATISTICS_REQUEST:
    case cmd::SENSORS_REQUEST:
    case cmd::OPTICS_REQUEST:
    case cmd::VIDEO_REQUEST:
    case ids::BAR_BUTTON:
    case ids::OK:
    case ids::CLEAR_STATS:
        return true;
    default:
        return false;
    }
}

} // namespace

bool MainWindowLogic::onCommand(int id) {
    if (listening() && transmits(id)) {
        view_.messageBox(listeningRefusal(), "Info", MsgButtons::Ok, MsgIcon::None);
        return true;
    }
    switch (id) {
    case cmd::RESET:
        controller_.resetValidatorView();
        return true;
    case cmd::SETUP_REQUEST:
        controller_.request(REQ_SETUP);
        return true;
    case cmd::SECURITY_SET:
    case cmd::UNUSED_32775:
        return true;
    case cmd::STATUS_REQUEST:
        controller_.statusRequest();
        return true;
    case cmd::CASS_INFO_REQUEST:
        controller_.request(REQ_CASS_INFO);
        return true;
    case cmd::POLL_20:
        setPollPeriodCommand(20);
        return true;
    case cmd::POLL_50:
        setPollPeriodCommand(50);
        return true;
    case cmd::POLL_100:
        setPollPeriodCommand(100);
        return true;
    case cmd::POLL_150:
        setPollPeriodCommand(150);
        return true;
    case cmd::POLL_200:
        setPollPeriodCommand(200);
        return true;
    case cmd::CREATE_LOG_FILE:
        createLogFileCommand();
        return true;
    case cmd::ENABLE_ALL_BILLS:
        controller_.enableAllBillTypes(true);
        return true;
    case cmd::DISABLE_ALL_BILLS:
        controller_.enableAllBillTypes(false);
        return true;
    case cmd::ENABLE_ALL_ESCROW:
        controller_.enableAllBillsEscrow(true);
        return true;
    case cmd::DISABLE_ALL_ESCROW:
        controller_.enableAllBillsEscrow(false);
        return true;
    case cmd::ACCEPT_ESCROW:
        controller_.request(REQ_ESCROW_STACK);
        return true;
    case cmd::REJECT_ESCROW:
        controller_.request(REQ_ESCROW_RETURN);
        return true;
    case cmd::DEVICE_ID_REQUEST:
        controller_.request(REQ_DEVICE_ID);
        return true;
    case cmd::STATISTICS_REQUEST:
        requestStatistics();
        return true;
    case cmd::SENSORS_REQUEST:
        controller_.request(REQ_SENSORS);
        return true;
    case cmd::OPTICS_REQUEST:
        controller_.request(REQ_OPTICS);
        return true;
    case cmd::VIDEO_REQUEST:
        controller_.request(REQ_VIDEO);
        return true;
    case cmd::OPTIONS:
        optionsCommand();
        return true;
    // Bar buttons: what 1017 means depends on the page whose bar is shown.
    case ids::BAR_BUTTON:
        switch (currentPage()) {
        case Page::CommandStatus:
            controller_.reconnect();
            break;
        case Page::Statistics:
            requestStatistics();
            break;
        case Page::Sensors:
            controller_.request(REQ_SENSORS);
            break;
        default:
            break;
        }
        return true;
    case ids::OK:
        controller_.request(REQ_OPTICS);
        return true;
    case ids::CLEAR_STATS:
        clearStatistics();
        return true;
    case ids::NEXT_EVENTS:
        toggleEventPage();
        return true;
    case ids::NEXT_BILLS:
        toggleBillPage();
        return true;
    case ids::OPTICS_RED:
    case ids::OPTICS_RED + 1:
    case ids::OPTICS_RED + 2:
    case ids::OPTICS_RED + 3:
        selectColour(id - ids::OPTICS_RED);
        return true;
    case ids::TRAFFIC_STOP:
        setTrafficStopped(!traffic_.trafficStopped());
        return true;
    default:
        return false;
    }
}

void MainWindowLogic::setPollPeriodCommand(unsigned ms) {
    controller_.setPollPeriod(ms);
}

void MainWindowLogic::onEscrowAnswer(bool accept) {
    controller_.escrowAnswered(accept);
    view_.closeModeless(Modeless::EscrowPrompt);
}

void MainWindowLogic::requestStatistics() {
    controller_.request(REQ_STATISTICS);
}

void MainWindowLogic::clearStatistics() {
    const MsgResult answer = view_.messageBox("Statistics Data will be Erased permanently. Continue ?",
                                              "Warning", MsgButtons::YesNo, MsgIcon::Warning);
    if (answer == MsgResult::Yes) {
        if (controller_.started()) controller_.request(REQ_CLEAR_STATS);
        diagnostics::resetStatistics(stats_);
        readings_.statisticsCleared();
        if (currentPage() == Page::Statistics) view_.invalidate(areas::DATA, false);
        view_.messageBox("Erased", "Info", MsgButtons::Ok, MsgIcon::None);
    } else {
        view_.messageBox("Erase Cancelled", "Info", MsgButtons::Ok, MsgIcon::None);
    }
}

void MainWindowLogic::toggleEventPage() {
    eventsFirstHalf_ = !eventsFirstHalf_;
    view_.setBarText(Page::Statistics, ids::NEXT_EVENTS,
                     eventsFirstHalf_ ? STOP_TEXT_NEXT_EVENTS : STOP_TEXT_PREV_EVENTS);
    if (currentPage() == Page::Statistics) view_.invalidate(areas::DATA, false);
}

void MainWindowLogic::toggleBillPage() {
    billsFirstHalf_ = !billsFirstHalf_;
    view_.setBarText(Page::Statistics, ids::NEXT_BILLS,
                     billsFirstHalf_ ? STOP_TEXT_NEXT_BILLS : STOP_TEXT_PREV_BILLS);
    if (currentPage() == Page::Statistics) view_.invalidate(areas::DATA, false);
}

void MainWindowLogic::selectColour(int colour) {
    optics_.selectedColour = colour;
    if (currentPage() == Page::MainOptics) view_.invalidate(areas::DATA, false);
}

void MainWindowLogic::setTrafficStopped(bool stopped) {
    traffic_.setTrafficStopped(stopped);
    view_.setBarText(Page::Traffic, ids::TRAFFIC_STOP, TrafficView::stopButtonText(stopped));
}

// --- diagnostics log file ---------------------------------------------------------------------------

void MainWindowLogic::createLogFileCommand() {
    if (!controller_.started()) {
        view_.messageBox("Connection with validator required", "Info", MsgButtons::Ok, MsgIcon::None);
    } else if (logDialogOpen_) {
        view_.activateModeless(Modeless::LogFile);
    } else {
        view_.openModeless(Modeless::LogFile);
        logDialogOpen_ = true;
        controller_.startLogSequence();
    }
    view_.invalidateWindow(false);
}

void MainWindowLogic::onLogDialogOk(bool statistics, bool sensors, bool optics, bool video,
                                    const std::string& serial) {
    logSerialNumber_ = serial;
    std::string chosen;
    const bool confirmed = view_.chooseSaveFile("Save Log File As", diagnostics::proposedLogFileName(serial),
                                                "Log Files(*.TXT)", chosen);
    view_.invalidate(areas::PAGE, true);
    logDialogOpen_ = false;
    view_.closeModeless(Modeless::LogFile);
    // Cancelling writes nothing, even after an earlier report: writing over that one silently
    // would destroy it.
    if (!confirmed || chosen.empty()) return;
    logFilePath_ = chosen;

    std::string error;
    if (!writeReport(logFilePath_, statistics, sensors, optics, video, serial, error)) {
        lastFileError_ = error;
        view_.messageBox(error, "Log File Location", MsgButtons::Ok, MsgIcon::Error);
        return;
    }
    view_.messageBox("Log File Created at " + logFilePath_ + " ", "Log File Location", MsgButtons::Ok,
                     MsgIcon::None);
}

bool MainWindowLogic::writeReport(const std::string& path, bool statistics, bool sensors, bool optics,
                                  bool video, const std::string& serial, std::string& error) {
    // Both file dialogs offer *.TXT in the same folder: a report written onto the recording
    // would spoil both.
    if (recorder_.isFile(path)) {
        error = "Cannot write the report to " + path +
                ": the bus traffic is being recorded into that file. Choose another name.";
        return false;
    }
    diagnostics::ReportContext ctx;
    ctx.stats = &stats_;
    ctx.sensors = &sensors_;
    ctx.optics = &optics_;
    ctx.video = &video_;
    ctx.billCredit = controller_.validator().billCredit;
    ctx.programRevision = controller_.validator().programRevision;
    ctx.serialNumber = serial;
    ctx.localTime = clock_();
    const std::string content = diagnostics::buildReport(ctx, statistics, sensors, optics, video);
    if (!diagnostics::writeReportFile(path, content, error)) return false;
    storeVisit((statistics ? history::PART_STATISTICS : 0) | (sensors ? history::PART_SENSORS : 0) |
                   (optics ? history::PART_OPTICS : 0) | (video ? history::PART_VIDEO : 0),
               serial, ctx.localTime);
    return true;
}

void MainWindowLogic::storeVisit(int parts, const std::string& serial, const std::tm& localTime) {
    if (history_ == nullptr) return;
    const auto& v = controller_.validator();
    history::Reading reading =
        readings_.take(parts, serial, v.billCredit, v.programRevision, localTime, std::time(nullptr));
    if (reading.serial == history::UNKNOWN_UNIT)
        view_.messageBox(
            std::string("The validator reported no serial number and none was typed: the reading is "
                        "kept under the unit \"") +
                history::UNKNOWN_UNIT + "\".",
            "History", MsgButtons::Ok, MsgIcon::Warning);
    // Stored on the writer's thread: a slow or stuck history never holds up the window.
    history_->store(std::move(reading));
}

namespace {

// What the trouble with a history is, in the operator's words.
std::string troubleText(const history::Fault& fault) {
    using history::FaultKind;
    switch (fault.kind) {
    case FaultKind::Full:
        return "has no room left";
    case FaultKind::Denied:
        return "does not let this user store readings";
    case FaultKind::NoSchema:
        return "is not set up for this program";
    case FaultKind::Schema:
        return "holds a history this program cannot use";
    case FaultKind::Untrusted:
        return "cannot be trusted: its certificate does not verify";
    case FaultKind::Invalid:
        return "cannot be used";
    case FaultKind::None:
    case FaultKind::Unavailable:
    case FaultKind::Rejected:
        break;
    }
    return "cannot be reached";
}

} // namespace

void MainWindowLogic::tellHistoryResult(const history::WriteResult& result) {
    using history::StoreOutcome;
    const history::StoreReport& report = result.report;
    if (report.outcome == StoreOutcome::Refused) ++readingsNotKept_;
    if (!report.tell || result.sending) return;
    const std::string trouble = "The service history at " + result.where + " " + troubleText(report.fault) +
                                ": " + report.fault.detail + ".";
    switch (report.outcome) {
    case StoreOutcome::Stored:
        break;
    case StoreOutcome::KeptLocally:
        view_.messageBox(trouble + " Readings are kept on this computer and sent " +
                             (report.fault.kind == history::FaultKind::Unavailable ? "when it is back."
                                                                                   : "when it takes them."),
                         "History", MsgButtons::Ok, MsgIcon::Warning);
        break;
    case StoreOutcome::NotKept:
        view_.messageBox(trouble + " This computer cannot keep the reading either (" +
                             report.keepFault.detail +
                             "): the reading is not kept. Norvex tries again until it ends.",
                         "History", MsgButtons::Ok, MsgIcon::Error);
        break;
    case StoreOutcome::Refused:
        view_.messageBox("The service history at " + result.where +
                             " refused the reading: " + report.fault.detail + ". The reading is not kept.",
                         "History", MsgButtons::Ok, MsgIcon::Error);
        break;
    }
}

void MainWindowLogic::onHistoryResults() {
    if (history_ == nullptr) return;
    for (const history::WriteResult& r : history_->takeResults())
        tellHistoryResult(r);
}

void MainWindowLogic::finishHistory() {
    if (history_ == nullptr || historyFinished_) return;
    historyFinished_ = true;
    // Everything handed over is stored (or kept) before the program ends.
    const history::Waiting waiting = history_->finish();
    onHistoryResults();
    readingsNotKept_ += waiting.held;
    historyExitNote_.clear();
    // "1 reading waits", "2 readings wait".
    auto count = [](std::size_t n, const char* one, const char* many) {
        return n == 1 ? std::string("1 reading ") + one : std::to_string(n) + " readings " + many;
    };
    const std::string where = history::displayUrl(history_->url());
    if (waiting.held > 0)
        view_.messageBox("The service history and this computer took no more readings: " +
                             count(waiting.held, "could not be kept anywhere and is lost.",
                                   "could not be kept anywhere and are lost."),
                         "History", MsgButtons::Ok, MsgIcon::Error);
    if (waiting.here > 0)
        historyExitNote_ += count(waiting.here, "waits", "wait") +
                            " on this computer for the service history at " + where +
                            "; Norvex sends them when it uses that history next.\n";
    if (waiting.elsewhere > 0)
        historyExitNote_ += count(waiting.elsewhere, "waits", "wait") +
                            " on this computer for other service histories; Norvex sends them when it uses "
                            "those.\n";
    if (waiting.setAside > 0)
        historyExitNote_ += count(waiting.setAside, "was", "were") +
                            " refused by their history; they stay on this computer, set aside.\n";
}

void MainWindowLogic::onLogDialogCancel() {
    logDialogOpen_ = false;
    view_.closeModeless(Modeless::LogFile);
}

void MainWindowLogic::onLogVideoBoxClicked() {
    selectPage(Page::VideoTest);
}

// --- Options dialog -----------------------------------------------------------------------------------

void MainWindowLogic::optionsCommand() {
    if (optionsDialogOpen_) {
        view_.activateModeless(Modeless::Options);
    } else {
        view_.openModeless(Modeless::Options);
        optionsDialogOpen_ = true;
    }
    view_.invalidateWindow(false);
}

void MainWindowLogic::onOptionsDataSaving(DataSaving choice) {
    options_.dataSavingOption = choice;
}

void MainWindowLogic::onOptionsBrowse() {
    std::string chosen;
    if (view_.chooseSaveFile("Save Log File As", "MDB_DATA.TXT", "Log Files(*.TXT)", chosen) &&
        !chosen.empty())
        options_.dataFilePath = chosen;
    const bool differs = options_.dataFilePath != options_.previousDataFilePath;
    options_.previousDataFilePath = options_.dataFilePath;
    if (differs)
        view_.messageBox("New File Selected.The Old File will be closed", "Info", MsgButtons::Ok,
                         MsgIcon::None);
}

void MainWindowLogic::onOptionsOk(control::EscrowOption escrowChoice) {
    options_.escrowOption = escrowChoice;
    controller_.setEscrowOption(escrowChoice);
    if (options_.dataSavingOption != options_.appliedDataSaving) {
        if (options_.dataSavingOption == DataSaving::ToFile) {
            if (openDataFile()) options_.appliedDataSaving = DataSaving::ToFile;
        } else {
            closeDataFile();
            options_.appliedDataSaving = DataSaving::Off;
        }
    } else if (options_.dataSavingOption == DataSaving::ToFile && recorder_.isOpen() &&
               recorder_.path() != options_.dataFilePath) {
        // Browse chose another file while recording: the old one is closed, as announced.
        closeDataFile();
        if (!openDataFile()) options_.appliedDataSaving = DataSaving::Off;
    }
    // A file that did not open records nothing: Options shows "No data saving", as after a
    // failed write.
    if (options_.dataSavingOption == DataSaving::ToFile && !recorder_.isOpen()) {
        options_.dataSavingOption = DataSaving::Off;
        options_.appliedDataSaving = DataSaving::Off;
    }
    optionsDialogOpen_ = false;
    view_.closeModeless(Modeless::Options);
}

void MainWindowLogic::onOptionsCancel() {
    optionsDialogOpen_ = false;
    view_.closeModeless(Modeless::Options);
}

bool MainWindowLogic::openDataFile() {
    if (recorder_.isOpen()) return true;
    if (options_.dataFilePath.empty()) return false;
    if (!recorder_.open(options_.dataFilePath)) {
        lastFileError_ = recorder_.lastError();
        view_.messageBox(recorder_.lastError(), "Info", MsgButtons::Ok, MsgIcon::Warning);
        return false;
    }
    return true;
}

void MainWindowLogic::closeDataFile() {
    recorder_.close();
}

// --- firmware download ----------------------------------------------------------------------------------

void MainWindowLogic::stopLinkForDownload(const std::function<void()>& handlePending) {
    downloading_ = true;
    typedPending_ = false;
    controller_.stopForDownload(comLink_, handlePending);
    busLog_.takeNew();
}

// --- bus monitor ---------------------------------------------------------------------------------

std::string MainWindowLogic::typedRefusal() const {
    if (listening()) return "listening to a machine: Norvex sends nothing on its bus";
    if (downloading_) return "a firmware download has the port";
    if (!controller_.started()) return "the link is not running: press START first";
    if (controller_.startupCountdown() > 0) return "the start-up sequence is still running";
    if (controller_.logCountdown() > 0) return "the log sequence is still running";
    for (int k = 0; k < REQ_POLL; ++k) {
        const auto kind = static_cast<RequestKind>(k);
        const RequestState state = data_.state(kind);
        if (state == RequestState::Awaiting) {
            // Named as the monitor's rows name its frame.
            const control::RequestFrame frame = control::requestFrame(kind);
            return control::format("an awaited request is in progress (%s)",
                                   control::commandLabel(frame.bytes.data(), frame.length).c_str());
        }
        if (state == RequestState::Requested) return "a request is waiting to be sent";
    }
    return {};
}

std::string MainWindowLogic::sendTypedFrame(const std::string& text) {
    if (listening()) return typedRefusal();
    control::TypedFrame frame;
    std::string reason;
    if (!control::parseTypedFrame(text, frame, reason)) return reason;
    if (typedPending_) return "the frame typed before has not gone out yet";
    if (std::string busy = typedRefusal(); !busy.empty()) return busy;
    typed_ = frame;
    typedPending_ = true;
    return {};
}

void MainWindowLogic::sendTypedIfIdle() {
    // Goes at a tick, before the scheduler's turn, like the scheduler's own frames: the tick then
    // finds the slot taken and sends no POLL.
    if (!typedPending_ || !typedRefusal().empty() || data_.slotBusy()) return;
    if (data_.submit(typed_.bytes.data(), typed_.length)) typedPending_ = false;
}

std::string MainWindowLogic::portDevicePath() const {
    return ports_.devicePath(comLink_.portNumber());
}

// --- listening to a machine ------------------------------------------------------------------------

const char* MainWindowLogic::listeningRefusal() {
    return "Listening to a machine: Norvex sends nothing on its bus. Stop listening (Bus menu) first.";
}

bool MainWindowLogic::startListening(const std::string& controllerPath, const std::string& peripheralPath) {
    if (controller_.started() || downloading_) {
        // The link's worker would assemble into the same records as the listener.
        view_.messageBox(
            "The link to the validator is running: Norvex cannot listen to a machine at the same "
            "time. Close Norvex and start it again to listen.",
            "Info", MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    if (controllerPath.empty() || peripheralPath.empty()) {
        view_.messageBox(
            "No Connection\nChoose both devices: the one on the controller's line and the one on the "
            "peripherals' line.",
            "Info", MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    stopListening();
    listener_ = std::make_unique<MachineListener>(data_, controller_, busLog_);
    BusTap::Line failedLine = BusTap::Line::Controller;
    if (const LinkResult opened = listener_->open(controllerPath, peripheralPath, failedLine); !opened) {
        listener_.reset();
        const std::string& path = failedLine == BusTap::Line::Controller ? controllerPath : peripheralPath;
        std::string text =
            std::string("No Connection\n") +
            (failedLine == BusTap::Line::Controller ? "The controller's line " : "The peripherals' line ") +
            path + ": ";
        const PortExplanation why = PortDiagnosis().explain(path, opened.fault().errorNumber);
        text += why.text.empty() || opened.fault().kind == FaultKind::OpenFailed ? opened.fault().detail
                                                                                 : why.text;
        view_.messageBox(text, "Info", MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    listenFailed_ = false;
    controller_.setListening(true);
    view_.enableControl(ids::START, false);
    view_.enableControl(ids::COM_SELECTOR, false);
    shownListeningNote_ = listeningNote();
    view_.setFieldText(ids::LINE_NOTE, shownListeningNote_);
    view_.startPollTimer(controller_.pollPeriodMs());
    return true;
}

void MainWindowLogic::stopListening() {
    if (!listener_) return;
    listener_->close();
    takeHeard(); // what was heard last, finished as the tap closed
    listener_.reset();
    controller_.setListening(false);
    // Nothing asked for while listening goes out later.
    for (int k = 0; k < REQ_COUNT; ++k)
        data_.setState(static_cast<RequestKind>(k), RequestState::Idle);
    if (!controller_.started()) {
        view_.stopPollTimer();
        view_.enableControl(ids::START, true);
        view_.enableControl(ids::COM_SELECTOR, true);
    }
    view_.setFieldText(ids::LINE_NOTE, "");
}

std::string MainWindowLogic::listeningNote() const {
    auto line = [this](BusTap::Line which) {
        const BusTap& tap = listener_->tap();
        std::string s = tap.path(which) + " (";
        switch (tap.framing(which)) {
        case Framing::ModeBit:
            s += "mode bit";
            break;
        case Framing::MarksUnreliable:
            s += "marks unreliable";
            break;
        case Framing::QuietLine:
            s += tap.deliversMarks(which) ? "no marks yet" : "no mode bit";
            break;
        }
        return s + ")";
    };
    if (listener_->tap().linesLookSwapped())
        return "listening: the lines look swapped (POLLs on the peripherals' line); give the VMC's line "
               "first";
    // Short enough for the note's field with two adapters' paths.
    return "listening only: VMC " + line(BusTap::Line::Controller) + ", peripherals " +
           line(BusTap::Line::Peripheral);
}

void MainWindowLogic::takeHeard() {
    if (!listener_) return;
    listener_->take([this](std::uint8_t code) { onLinkNotification(code); },
                    [this](const link::HeardExchange& h, const KeptExchange& kept) {
                        recordHeard(h);
                        if (heardObserver_) heardObserver_(h, kept);
                    });
    if (listener_->failed() && !listenFailed_) {
        listenFailed_ = true;
        const LinkFault fault = listener_->fault();
        stopListening();
        view_.beep();
        std::string text =
            fault.kind == FaultKind::Vanished
                ? "The serial port " + fault.device +
                      " stopped working (adapter unplugged?). Plug it back in and listen again."
                : control::linkFaultText(fault);
        view_.messageBox(text, control::COM_ERROR_CAPTION, MsgButtons::Ok, MsgIcon::Warning);
        return;
    }
    if (const std::string note = listeningNote(); note != shownListeningNote_) {
        shownListeningNote_ = note;
        view_.setFieldText(ids::LINE_NOTE, note);
    }
}

void MainWindowLogic::recordHeard(const link::HeardExchange& h) {
    // The traffic data file's line: one per answer of two bytes or more, of any device.
    if (!recorder_.isOpen() || h.answerReceived < 2 || h.commandLength == 0) return;
    if (h.kind != link::HeardKind::Exchange && h.kind != link::HeardKind::Retransmission) return;
    std::string line =
        control::format("time: %09u  vmc: %02X val:", static_cast<unsigned>(listener_->runClockMs(h)),
                        static_cast<unsigned>(h.command[0]));
    for (std::size_t i = 0; i < h.answerLength(); ++i)
        line += control::format(" %02X", static_cast<unsigned>(h.answer[i]));
    line += " \r\n";
    if (recorder_.write(line) == DataRecorder::WriteResult::Failed) {
        options_.dataSavingOption = DataSaving::Off;
        options_.appliedDataSaving = DataSaving::Off;
        lastFileError_ = recorder_.lastError();
        view_.messageBox(recorder_.lastError(), "Info", MsgButtons::Ok, MsgIcon::Warning);
    }
}

} // namespace norvex::ui
