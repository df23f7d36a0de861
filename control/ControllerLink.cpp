// The controller's contact with the port: START, shut-down and the hand-over to the download.

#include "Controller.h"
#include "LinkFaultText.h"

#include "link/PortDiagnosis.h"

#include <chrono>
#include <thread>

namespace norvex::control {

namespace {

// Sleeps in short steps until `done` or the limit has passed; true when done.
template <typename Done> bool waitUntil(Done done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Longer than the worker holds a frame back for an answer still arriving.
constexpr std::chrono::milliseconds SLOT_WAIT{1500};
// The validator acknowledges ESCROW within 5 ms; this leaves room for the drivers.
constexpr std::chrono::milliseconds ANSWER_WAIT{50};

} // namespace

bool Controller::start(link::ComLink& comLink, link::LinkNotifier& owner) {
    if (started_) return true;
    if (const link::LinkResult opened = comLink.open({.baud = 9600, .parity = link::Parity::Mark}); !opened) {
        // "No Connection" first, then why, where the system shows it.
        std::string text = "No Connection";
        const std::string path = comLink.ports().devicePath(comLink.portNumber());
        if (!path.empty()) {
            const link::PortExplanation why = link::PortDiagnosis().explain(path, opened.fault().errorNumber);
            if (!why.text.empty()) text += "\n" + why.text;
        }
        view_.messageBox(text, "Info", MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    if (!comLink.workerRunning()) {
        if (const link::LinkResult started = comLink.startWorker(owner); !started) {
            // Without the worker nothing would ever reach the validator: say so and stay stopped.
            comLink.closePort();
            view_.messageBox(linkFaultText(started.fault()), COM_ERROR_CAPTION, MsgButtons::Ok,
                             MsgIcon::Warning);
            return false;
        }
    }
    portOpen_ = true;
    owner_ = &owner;
    beginRunning();
    return true;
}

void Controller::shutdown(link::ComLink& comLink) {
    if (started_) {
        view_.stopPollTimer();
        if (escrowPromptOpen_ && portOpen_ && comLink.workerRunning()) returnEscrowedBill();
        started_ = false;
    }
    if (portOpen_) closeLink(comLink);
}

void Controller::returnEscrowedBill() {
    // As the prompt's close box does: REJECT. Without it the validator would hold the bill until
    // its own time-out.
    escrowAnswered(false);
    view_.closeModeless(Modeless::EscrowPrompt);
    // This thread waits for the worker now: the worker must not wait for it.
    if (owner_) owner_->cancelWaits();
    if (!waitUntil([&] { return !data_.slotBusy(); }, SLOT_WAIT)) return;
    send(link::REQ_ESCROW_RETURN);
    if (data_.state(link::REQ_ESCROW_RETURN) == link::RequestState::Requested) return; // not placed
    // Sent once the slot is free again; then the validator's acknowledge, before the port is
    // purged and closed.
    if (!waitUntil([&] { return !data_.slotBusy(); }, SLOT_WAIT)) return;
    waitUntil([&] { return data_.responseMode.load() == link::MODE_IDLE; }, ANSWER_WAIT);
}

void Controller::stopForDownload(link::ComLink& comLink) {
    view_.stopPollTimer();
    started_ = false;
    closeLink(comLink);
}

void Controller::linkLost(link::ComLink& comLink) {
    view_.stopPollTimer();
    started_ = false;
    if (escrowPromptOpen_) {
        escrowPromptOpen_ = false;
        view_.closeModeless(Modeless::EscrowPrompt);
    }
    // The worker has left its loop already; closing joins it and releases the port.
    comLink.closePort();
    portOpen_ = false;
    owner_ = nullptr;
    for (int k = 0; k < link::REQ_COUNT; ++k)
        data_.setState(static_cast<link::RequestKind>(k), link::RequestState::Idle);
    reconnect(); // the next START runs the start-up sequence afresh
    logCountdown_ = 0;
    reconnectAllowed_ = false;
    view_.enableBarControl(Page::CommandStatus, ids::BAR_BUTTON, false);
    view_.enableControl(ids::START, true);
    view_.enableControl(ids::COM_SELECTOR, true);
}

void Controller::closeLink(link::ComLink& comLink) {
    const bool workerRan = comLink.workerRunning();
    comLink.closePort();
    portOpen_ = false;
    // The worker has left its loop: the system beep says so. (A worker that stopped on a fault
    // has beeped with its message already.)
    if (workerRan) view_.beep();
}

} // namespace norvex::control
