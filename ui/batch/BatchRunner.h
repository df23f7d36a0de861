// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One batch run: the main window's logic driven by a single thread that plays the window
// thread. It sleeps until the next poll tick is due or the link worker posts a notification,
// and then calls onTimer or delivers the notification, exactly as the window's event loop
// would.

#include "BatchMode.h"
#include "BatchOptions.h"
#include "BatchView.h"
#include "control/Controller.h"
#include "history/HistoryWriter.h"
#include "ui/core/MainWindowLogic.h"
#include "ui/core/NotificationBridge.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>

namespace norvex::batch {

class BatchRunner : private control::ControllerObserver {
public:
    BatchRunner(BatchOptions options, BatchEnvironment env);
    ~BatchRunner() override;
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Runs what the options ask for and returns the exit status. Call once.
    int run();

    // After run(): the logic as the run left it (tests compare the report with it).
    ui::MainWindowLogic& core() { return core_; }
    unsigned ticks() const { return ticks_; }

    // A report waits this long after the log sequence starts for its records to come in.
    static std::chrono::milliseconds reportTimeout(unsigned pollMs);
    // START must bring the SETUP answer within this time.
    static constexpr std::chrono::seconds SETUP_TIMEOUT{5};

private:
    using Clock = std::chrono::steady_clock;

    int runPolling();
    int runDownload();
    int runListening();
    // One line for an exchange heard while listening (the validator's events have their own).
    void heardLine(const link::HeardExchange& heard, const ui::KeptExchange& kept);
    void loop();
    std::optional<int> endCondition(Clock::time_point now);
    bool startupDone();
    bool recordsIn() const;
    std::string missingRecords() const;
    int writeReport();
    void post();
    void onNotification(std::uint8_t code);
    void line(const std::string& text);
    bool captureFailed(); // the --pcap file could not be written (reported once)

    // ControllerObserver
    void eventAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) override;
    void commandAdded(std::uint32_t runClockMs, std::uint8_t code, const std::string& text) override;
    void setupReceived() override;
    void identificationReceived() override;

    BatchOptions options_;
    BatchEnvironment env_;
    BatchView view_;
    link::PortMap ports_;
    // The history outlives the logic, which stores into it until its end.
    std::unique_ptr<history::HistoryWriter> history_;
    // The bridge outlives the logic: closing the port at the logic's end still cancels its waits.
    ui::NotificationBridge bridge_;
    ui::MainWindowLogic core_;

    std::mutex m_;
    std::condition_variable cv_;
    bool posted_ = false;

    Clock::time_point started_{};
    bool setupSeen_ = false;
    bool swappedSaid_ = false; // the lines look swapped: said once
    bool identSeen_ = false;
    bool linkFailed_ = false;
    bool logStarted_ = false;
    Clock::time_point logDeadline_{};
    bool statsIn_ = false, sensorsIn_ = false, opticsIn_ = false, videoIn_ = false;
    bool reportWritten_ = false;
    int status_ = batch_status::OK;
    unsigned ticks_ = 0;
    bool captureFailureReported_ = false;
};

} // namespace norvex::batch
