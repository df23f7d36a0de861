// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchRunner.h"

#include "BatchDownloadUi.h"
#include "control/Format.h"
#include "control/HeardDecoder.h"
#include "download/FirmwareDownload.h"
#include "download/PosixByteChannel.h"
#include "link/MdbCommands.h"
#include "link/PortAssignments.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <iterator>
#include <pthread.h>

namespace norvex::batch {

using namespace norvex::link;
using control::format;

namespace {

// Set by the handler, on whichever thread the signal lands; a lock-free atomic is safe in a
// handler and seen by the loop's thread.
std::atomic<int> stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int signal) {
    stopSignal.store(signal);
}

// SIGINT, SIGTERM and SIGHUP (the terminal or the session went away) end the run as closing the
// window does; the previous handlers come back when the run is over. A signal the run was started
// with ignored stays ignored (nohup, a background job of a script).
constexpr int STOP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

class SignalGuard {
public:
    explicit SignalGuard(bool active) : active_(active) {
        stopSignal.store(0);
        if (!active_) return;
        struct sigaction sa {};
        sa.sa_handler = onStopSignal;
        sigemptyset(&sa.sa_mask);
        for (std::size_t i = 0; i < std::size(STOP_SIGNALS); ++i) {
            sigaction(STOP_SIGNALS[i], nullptr, &old_[i]);
            if (old_[i].sa_handler != SIG_IGN) sigaction(STOP_SIGNALS[i], &sa, nullptr);
        }
    }
    ~SignalGuard() {
        if (!active_) return;
        for (std::size_t i = 0; i < std::size(STOP_SIGNALS); ++i)
            sigaction(STOP_SIGNALS[i], &old_[i], nullptr);
    }
    SignalGuard(const SignalGuard&) = delete;
    SignalGuard& operator=(const SignalGuard&) = delete;

private:
    bool active_;
    struct sigaction old_[std::size(STOP_SIGNALS)]{};
};

// Threads made while this lives start with the stop signals blocked, so the signals reach
// the loop's thread and never interrupt the link worker.
class StopSignalsBlocked {
public:
    StopSignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        for (int s : STOP_SIGNALS)
            sigaddset(&set, s);
        pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~StopSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    StopSignalsBlocked(const StopSignalsBlocked&) = delete;
    StopSignalsBlocked& operator=(const StopSignalsBlocked&) = delete;

private:
    sigset_t old_;
};

int pollCommand(unsigned ms) {
    switch (ms) {
    case 20:
        return cmd::POLL_20;
    case 50:
        return cmd::POLL_50;
    case 150:
        return cmd::POLL_150;
    case 200:
        return cmd::POLL_200;
    default:
        return cmd::POLL_100;
    }
}

constexpr std::uint32_t LOG_TICKS = 25;
constexpr std::chrono::seconds REPORT_GRACE{5};

class DownloadLinkControl : public download::LinkControl {
public:
    explicit DownloadLinkControl(ui::MainWindowLogic& core) : core_(core) {}
    void stopLink() override { core_.stopLinkForDownload(); }

private:
    ui::MainWindowLogic& core_;
};

int downloadStatus(download::DownloadOutcome outcome) {
    using download::DownloadOutcome;
    switch (outcome) {
    case DownloadOutcome::Success:
        return batch_status::OK;
    case DownloadOutcome::Aborted:
    case DownloadOutcome::ImageUnusable:
        return batch_status::DOWNLOAD_ABORTED;
    case DownloadOutcome::NoConnection:
        return batch_status::DOWNLOAD_NO_CONNECTION;
    case DownloadOutcome::HeaderFailed:
        return batch_status::DOWNLOAD_HEADER_FAILED;
    case DownloadOutcome::RecordFailed:
        return batch_status::DOWNLOAD_RECORD_FAILED;
    case DownloadOutcome::NoCheckValue:
        return batch_status::DOWNLOAD_NO_CHECK_VALUE;
    case DownloadOutcome::CrcMismatch:
        return batch_status::DOWNLOAD_CRC_MISMATCH;
    }
    return batch_status::DOWNLOAD_ABORTED;
}

} // namespace

BatchRunner::BatchRunner(BatchOptions options, BatchEnvironment env)
    : options_(std::move(options)), env_(std::move(env)), view_(env_.err),
      bridge_([this] { post(); }, [this](std::uint8_t code) { onNotification(code); },
              [this](const link::LinkFault& fault) {
                  core_.onLinkFailed(fault);
                  linkFailed_ = true;
              }),
      core_(view_, ports_, env_.portFactory ? env_.portFactory : termiosPortFactory()) {
    core_.setSettingsDirectory(env_.settingsDir);
    if (env_.clock) core_.setClock(env_.clock);
    if (!options_.noHistory && options_.downloadImage.empty()) {
        std::string url = options_.historyUrl, warning;
        if (url.empty()) {
            url = history::configuredHistoryUrl(&warning);
            if (!warning.empty()) view_.report("norvex", warning);
        }
        // What the history's thread stores is told on the loop's thread, as a notification is.
        history_ = std::make_unique<history::HistoryWriter>(url, [this] { post(); });
        core_.setHistory(history_.get());
    }
}

BatchRunner::~BatchRunner() {
    core_.controller().setObserver(nullptr);
    core_.onDestroy();
}

std::chrono::milliseconds BatchRunner::reportTimeout(unsigned pollMs) {
    return std::chrono::milliseconds(LOG_TICKS * pollMs) + REPORT_GRACE;
}

int BatchRunner::run() {
    // Ports: the defaults, then the ports dialog's assignments, then the environment, then the
    // command line.
    if (!env_.portsFile.empty()) {
        link::PortAssignments assignments;
        std::string warning;
        if (!assignments.load(env_.portsFile, warning)) view_.report("norvex", warning);
        assignments.applyTo(ports_);
    }
    ports_.loadEnvironment();
    for (const std::string& assignment : options_.portOverrides) {
        std::string error;
        if (!ports_.parseOverride(assignment, error)) {
            view_.report("norvex", "--port " + assignment + ": " + error);
            return batch_status::BAD_ARGUMENTS;
        }
    }
    core_.onInitDialog();
    // --com chooses the port for this run only; the window's stored choice stays as it is.
    if (options_.com > 0) core_.comLink().setPortNumber(options_.com - 1);
    if (options_.listening()) return runListening();
    return options_.downloadImage.empty() ? runPolling() : runDownload();
}

// --- polling ----------------------------------------------------------------------------------------

int BatchRunner::runPolling() {
    core_.onCommand(pollCommand(options_.pollMs));
    // The Options dialog's OK: the escrow option (nobody answers a prompt here) and, when
    // recording, the data file.
    if (!options_.recordPath.empty()) {
        core_.options().dataFilePath = options_.recordPath;
        core_.onOptionsDataSaving(ui::DataSaving::ToFile);
    }
    core_.onOptionsOk(options_.escrowOption);
    if (!options_.recordPath.empty() && !core_.dataFileOpen()) return batch_status::FILE_FAILED;
    if (!options_.pcapPath.empty()) {
        std::string error;
        if (!core_.busLog().startCapture(options_.pcapPath, error)) {
            view_.report("norvex", "cannot write the capture " + error);
            return batch_status::FILE_FAILED;
        }
    }

    core_.controller().setObserver(this);
    SignalGuard signals(env_.catchSignals);
    {
        StopSignalsBlocked forTheWorker;
        core_.onStart(bridge_);
    }
    if (!core_.controller().started()) {
        const std::string why = core_.comLink().openFault().detail;
        view_.report("norvex", "cannot open " + PortMap::portName(core_.portNumber()) + " (" +
                                   core_.portDevicePath() + ")" + (why.empty() ? "" : ": " + why));
        core_.onDestroy();
        return batch_status::NO_CONNECTION;
    }
    started_ = Clock::now();
    loop();
    // Ends as closing the window does: timer stopped, the escrow settled (an ESCROW frame asked
    // for goes out, also when a signal ended the run), port closed (the worker joined), data file
    // closed. Answers that complete meanwhile are taken as the loop would take them.
    core_.onDestroy([this] { bridge_.deliver(); });
    core_.controller().setObserver(nullptr);
    if (captureFailed() && status_ == batch_status::OK) status_ = batch_status::FILE_FAILED;
    if (core_.readingsNotKept() > 0 && status_ == batch_status::OK) status_ = batch_status::READING_NOT_KEPT;
    return status_;
}

bool BatchRunner::captureFailed() {
    // Said once, like a failed write of the data file.
    if (!core_.busLog().captureFailed()) return false;
    if (!captureFailureReported_) {
        view_.report("norvex", "cannot write the capture " + core_.busLog().captureError());
        captureFailureReported_ = true;
    }
    return true;
}

void BatchRunner::post() {
    {
        std::lock_guard<std::mutex> lk(m_);
        posted_ = true;
    }
    cv_.notify_one();
}

void BatchRunner::loop() {
    auto timerPeriod = [this] { return std::chrono::milliseconds(std::max(view_.timerPeriodMs(), 1u)); };
    std::uint32_t generation = view_.timerGeneration();
    auto period = timerPeriod();
    auto next = Clock::now() + period;
    for (;;) {
        bool posted = false;
        {
            std::unique_lock<std::mutex> lk(m_);
            cv_.wait_until(lk, next, [&] { return posted_ || stopSignal.load() != 0; });
            posted = posted_;
            posted_ = false;
        }
        if (posted) {
            bridge_.deliver();
            core_.onHistoryResults();
        }

        if (view_.timerGeneration() != generation) {
            // The timer was started again, perhaps with another period: count from now.
            generation = view_.timerGeneration();
            period = timerPeriod();
            next = Clock::now() + period;
        }
        auto now = Clock::now();
        if (now >= next) {
            if (view_.timerRunning()) {
                bridge_.deliver(); // a completion the worker left for the tick
                core_.onTimer();
                ++ticks_;
            }
            // A backlog of ticks is handled as this one tick; the deadlines stay on the grid.
            // Without a running timer the deadline still moves on, so the end conditions are
            // looked at once per period and the loop never spins.
            next += period * (1 + (now - next) / period);
            now = Clock::now();
        }
        if (const auto status = endCondition(now)) {
            status_ = *status;
            return;
        }
    }
}

std::optional<int> BatchRunner::endCondition(Clock::time_point now) {
    if (const int signal = stopSignal.load(); signal != 0) {
        if (!options_.reportPath.empty() && !reportWritten_) {
            // The report the run was for does not exist: the usual status of a stopped program.
            view_.report("norvex", "stopped by a signal before the report was written");
            return 128 + signal;
        }
        view_.report("norvex", "stopped by a signal");
        return batch_status::OK;
    }
    if (linkFailed_ || core_.listeningFailed()) return batch_status::LINK_FAILED;
    // A failed write has closed the data file and been reported; the recording is what the
    // run was for.
    if (!options_.recordPath.empty() && !core_.dataFileOpen()) return batch_status::FILE_FAILED;
    if (captureFailed()) return batch_status::FILE_FAILED;
    if (!setupSeen_ && !options_.listening() && now - started_ >= SETUP_TIMEOUT) {
        view_.report("norvex", "the validator did not answer SETUP within 5 seconds");
        return batch_status::NO_SETUP;
    }

    if (!options_.reportPath.empty()) {
        if (!logStarted_ && startupDone()) {
            core_.createLogFileCommand();
            if (options_.parts.video) core_.onCommand(cmd::VIDEO_REQUEST);
            logStarted_ = true;
            logDeadline_ = now + reportTimeout(core_.controller().pollPeriodMs());
        }
        if (logStarted_ && !reportWritten_ && (recordsIn() || now >= logDeadline_)) {
            reportWritten_ = true;
            if (const int status = writeReport(); status != batch_status::OK) return status;
        }
    }

    const bool timeUp = options_.seconds > 0 && now - started_ >= std::chrono::seconds(options_.seconds);
    if (!options_.reportPath.empty()) {
        if (reportWritten_ && (options_.seconds == 0 || timeUp)) return batch_status::OK;
    } else if (timeUp) {
        return batch_status::OK;
    }
    return std::nullopt;
}

bool BatchRunner::startupDone() {
    // SETUP answered, the start-up countdown run out and its BILL TYPE frame gone.
    return setupSeen_ && core_.controller().startupCountdown() == 0 &&
           core_.controller().link().state(REQ_TYPE_ESCR) != RequestState::Requested;
}

bool BatchRunner::recordsIn() const {
    return missingRecords().empty();
}

std::string BatchRunner::missingRecords() const {
    std::string missing;
    auto add = [&](bool absent, const char* name) {
        if (!absent) return;
        if (!missing.empty()) missing += ", ";
        missing += name;
    };
    const ReportParts& p = options_.parts;
    // The statistics part carries the identification block.
    add(p.statistics && !identSeen_, "identification");
    add(p.statistics && !statsIn_, "statistics");
    add(p.sensors && !sensorsIn_, "sensors");
    add(p.optics && !opticsIn_, "main optics");
    add(p.video && !videoIn_, "video test");
    return missing;
}

int BatchRunner::writeReport() {
    const ReportParts& p = options_.parts;
    std::string error;
    const bool written = core_.writeReport(options_.reportPath, p.statistics, p.sensors, p.optics, p.video,
                                           options_.serial, error);
    // The dialog's work is done either way.
    core_.onLogDialogCancel();
    if (!written) {
        view_.report("Log File Location", error);
        return batch_status::FILE_FAILED;
    }
    view_.report("Log File Location", "Log File Created at " + options_.reportPath + " ");
    if (const std::string missing = missingRecords(); !missing.empty()) {
        // The window would print these parts from the values held since start-up as well; a
        // script must not take them for the unit's.
        view_.report("norvex", "no answer in time for: " + missing + "; the report shows zeros there");
        return batch_status::RECORDS_MISSING;
    }
    return batch_status::OK;
}

void BatchRunner::onNotification(std::uint8_t code) {
    core_.onLinkNotification(code);
    if (!logStarted_) return;
    // Only records that come after the log sequence began count as fresh.
    switch (code) {
    case RESP_STATS:
        statsIn_ = true;
        break;
    case RESP_SENSORS:
        sensorsIn_ = true;
        break;
    case RESP_OPTICS:
        opticsIn_ = true;
        break;
    case RESP_VIDEO:
        videoIn_ = true;
        break;
    default:
        break;
    }
}

void BatchRunner::line(const std::string& text) {
    if (!env_.out) return;
    std::fprintf(env_.out, "%s\n", text.c_str());
    std::fflush(env_.out);
}

void BatchRunner::eventAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) {
    line(format("%09u event (%02Xh) ", static_cast<unsigned>(runClockMs), static_cast<unsigned>(code)) +
         text);
}

void BatchRunner::commandAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) {
    line(format("%09u command (%02Xh) ", static_cast<unsigned>(runClockMs), static_cast<unsigned>(code)) +
         text);
}

void BatchRunner::setupReceived() {
    setupSeen_ = true;
    std::string credits;
    for (auto c : core_.controller().validator().billCredit) {
        // Appended piece by piece: GCC 12 at -O3 takes " " + std::to_string() for an overlapping
        // copy (a false -Wrestrict).
        credits += ' ';
        credits += std::to_string(c);
    }
    line("setup: feature level " + view_.field(ids::FEATURE_LEVEL) + ", country " +
         view_.field(ids::COUNTRY_CODE) + ", scaling " + view_.field(ids::SCALING_FACTOR) + ", decimals " +
         view_.field(ids::DECIMAL_PLACES) + ", capacity " + view_.field(ids::STACKER_CAPACITY) + ", credits" +
         credits);
}

void BatchRunner::identificationReceived() {
    identSeen_ = true;
    line("identification: maker " + view_.field(ids::MANUFACTURER) + ", program rev " +
         view_.field(ids::PROGRAM_REVISION));
}

// --- listening to a machine ------------------------------------------------------------------------

int BatchRunner::runListening() {
    // The Options dialog's OK for the data file, as when polling.
    if (!options_.recordPath.empty()) {
        core_.options().dataFilePath = options_.recordPath;
        core_.onOptionsDataSaving(ui::DataSaving::ToFile);
    }
    core_.onOptionsOk(options_.escrowOption);
    if (!options_.recordPath.empty() && !core_.dataFileOpen()) return batch_status::FILE_FAILED;
    if (!options_.pcapPath.empty()) {
        std::string error;
        if (!core_.busLog().startCapture(options_.pcapPath, error)) {
            view_.report("norvex", "cannot write the capture " + error);
            return batch_status::FILE_FAILED;
        }
    }
    core_.controller().setObserver(this);
    core_.setHeardObserver(
        [this](const link::HeardExchange& h, const ui::KeptExchange& kept) { heardLine(h, kept); });
    SignalGuard signals(env_.catchSignals);
    bool listening = false;
    {
        StopSignalsBlocked forTheTap;
        listening = core_.startListening(options_.listenController, options_.listenPeripheral);
    }
    if (!listening) {
        core_.onDestroy();
        core_.setHeardObserver(nullptr);
        return batch_status::NO_CONNECTION;
    }
    // Nothing shows the bus log in the batch mode: the capture and the record are written as
    // the exchanges come, so it keeps no more than the fewest.
    core_.busLog().setKeep(ui::BusLog::MIN_KEEP);
    started_ = Clock::now();
    loop();
    // As closing the window: the tap closed (what it heard last is printed), files closed.
    core_.onDestroy();
    core_.controller().setObserver(nullptr);
    core_.setHeardObserver(nullptr);
    if (captureFailed() && status_ == batch_status::OK) status_ = batch_status::FILE_FAILED;
    if (!options_.recordPath.empty() && !core_.dataFileOpen() && status_ == batch_status::OK &&
        !core_.lastFileError().empty())
        status_ = batch_status::FILE_FAILED;
    return status_;
}

void BatchRunner::heardLine(const link::HeardExchange& h, const ui::KeptExchange& kept) {
    using link::HeardKind;
    const bool exchange = h.kind == HeardKind::Exchange || h.kind == HeardKind::Retransmission;
    // The validator's events, setup and commands have the batch mode's own lines; its exchanges
    // get one of these only when something went wrong.
    if (!swappedSaid_ && core_.machineListener()->tap().linesLookSwapped()) {
        swappedSaid_ = true;
        view_.report("norvex", "the lines look swapped: POLLs come on the peripherals' line (" +
                                   options_.listenPeripheral + "); give the controller's line first");
    }
    if (exchange && h.address == link::ADDRESS_BILL_VALIDATOR && (h.faults & ~link::HEARD_RESET) == 0) return;
    auto hex = [](const std::uint8_t* b, std::size_t n) {
        std::string s;
        for (std::size_t i = 0; i < n; ++i)
            s += format(i ? " %02X" : "%02X", static_cast<unsigned>(b[i]));
        return s;
    };
    // Stray bytes and the bus reset carry the address of the exchange they follow.
    const std::uint8_t code = exchange && h.commandLength > 0 ? h.command[0] : h.address;
    std::string text =
        format("%09u heard (%02Xh) ", static_cast<unsigned>(core_.machineListener()->runClockMs(h)),
               static_cast<unsigned>(code)) +
        kept.command;
    const bool commandShown = exchange && h.kind == HeardKind::Exchange;
    if (commandShown || h.kind == HeardKind::ControllerStray)
        text += ": " + hex(h.command.data(), h.commandLength);
    if (h.answerLength() > 0) {
        text += (commandShown ? " -> " : ": ") + hex(h.answer.data(), h.answerLength());
        if (!kept.answerMeaning.empty()) text += " (" + kept.answerMeaning + ")";
    }
    if (const std::string note = control::heardNote(h); !note.empty()) text += "; " + note;
    line(text);
}

// --- firmware download ----------------------------------------------------------------------------

int BatchRunner::runDownload() {
    BatchDownloadUi ui(env_.out, view_);
    DownloadLinkControl linkControl(core_);
    download::PosixByteChannel channel(core_.portDevicePath());
    download::DownloadOptions options;
    // The operator has put the validator into loader mode before starting the run.
    options.confirmDipSwitches = false;
    options.imagePath = options_.downloadImage;
    download::FirmwareDownload procedure(channel, ui, linkControl, options);
    const download::DownloadOutcome outcome = procedure.run();

    const download::DownloadReport& r = procedure.report();
    std::string text = std::string("download: ") + download::outcomeName(outcome);
    if (r.checkValue)
        text += format(", check value %04X, expected %04X", static_cast<unsigned>(*r.checkValue),
                       static_cast<unsigned>(r.expectedCheckValue));
    if (r.failedRecord >= 0) text += format(", record %d of %d refused", r.failedRecord + 1, r.records);
    ui.print(text);
    return downloadStatus(outcome);
}

} // namespace norvex::batch
