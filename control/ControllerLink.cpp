// SPDX-License-Identifier: GPL-3.0-or-later
// The controller's contact with the port: START, shut-down and the hand-over to the download.

#include "Controller.h"
#include "LinkFaultText.h"
#include "RequestFrames.h"

#include "link/PortDiagnosis.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <thread>

namespace norvex::control {

namespace {

// How long an ending waits in all for the link: longer than the worker holds a frame back for
// an answer still arriving.
constexpr std::chrono::milliseconds SLOT_WAIT{1500};
// The validator begins an answer (the acknowledge of ESCROW among them) within 5 ms; this leaves
// room for the drivers and the answer itself.
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

void Controller::shutdown(link::ComLink& comLink, const std::function<void()>& handlePending) {
    if (started_) {
        view_.stopPollTimer();
        if (portOpen_ && comLink.workerRunning()) settleEscrow(comLink, handlePending);
        started_ = false;
    }
    if (portOpen_) closeLink(comLink);
}

link::RequestKind Controller::escrowFrameDue() {
    const bool stackDue = data_.state(link::REQ_ESCROW_STACK) == link::RequestState::Requested;
    const bool returnDue = data_.state(link::REQ_ESCROW_RETURN) == link::RequestState::Requested;
    if (escrowPromptOpen_) {
        // A decision already taken (from the menu) stands; otherwise the bill goes back, as the
        // prompt's close box would send it.
        if (!stackDue && !returnDue) {
            escrowAnswered(false);
            view_.closeModeless(Modeless::EscrowPrompt);
            return link::REQ_ESCROW_RETURN;
        }
        escrowPromptOpen_ = false;
        view_.closeModeless(Modeless::EscrowPrompt);
    }
    // In the scheduler's order.
    return stackDue ? link::REQ_ESCROW_STACK : returnDue ? link::REQ_ESCROW_RETURN : link::REQ_COUNT;
}

void Controller::settleEscrow(link::ComLink& comLink, const std::function<void()>& handlePending) {
    // Once the port is closed nobody decides on a bill held in escrow, and the validator keeps it
    // until its own time-out. So the ending sends what the bill needs: REJECT for a bill shown in
    // the prompt, or the ESCROW frame an automatic option or an answer has asked for and no tick
    // has sent yet. Answers that complete meanwhile are handed over, since one may hold an
    // escrowed bill that the validator, acknowledged, no longer offers.
    using Clock = std::chrono::steady_clock;
    const auto limit = Clock::now() + SLOT_WAIT;
    // Without a way to take its completions the worker must not wait for this thread.
    if (!handlePending && owner_) owner_->cancelWaits();
    auto handOver = [&] {
        if (handlePending) handlePending();
    };

    // Through the worker, as a tick would send it, until the line is idle with nothing left to
    // send: no answer starts after that.
    auto busySince = Clock::now(); // the last moment a frame was in the slot or placed there
    for (;;) {
        handOver();
        // A fault handed over meanwhile has closed the link: nothing reaches the validator now.
        if (!portOpen_ || !comLink.workerRunning()) return;
        const link::RequestKind due = escrowFrameDue();
        const auto now = Clock::now();
        if (data_.slotBusy()) {
            busySince = now;
        } else if (due != link::REQ_COUNT) {
            send(due); // a placement that loses the slot to an acknowledge stays requested
            busySince = now;
            continue;
        } else if (data_.responseMode.load() == link::MODE_IDLE || now - busySince >= ANSWER_WAIT) {
            break;
        }
        if (now >= limit) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!handlePending) return; // closePort cancels what the worker is doing

    // The worker may have acknowledged an answer and not yet handed it over (the acknowledge
    // takes a character time on the wire first). It finishes that and leaves its loop, which is
    // the only sure sign that nothing more is coming.
    comLink.stopWorker();
    const auto stopLimit = std::max(limit, Clock::now() + ANSWER_WAIT);
    while (comLink.workerRunning() && Clock::now() < stopLimit) {
        handOver();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    handOver();
    if (comLink.workerRunning()) return;

    // What that last answer asked for goes out on the port directly: the worker is gone.
    const link::RequestKind due = escrowFrameDue();
    if (due == link::REQ_COUNT) return;
    data_.setState(due, link::RequestState::Idle);
    const RequestFrame f = requestFrame(due, v_.billMask);
    if (!comLink.writePort(f.bytes.data(), f.length)) return;
    addCommand(requestInfo(due).historyCode);
    // The validator's acknowledge, before the port is purged and closed.
    std::uint8_t answer[link::TX_SLOT_SIZE];
    const auto answerLimit = Clock::now() + ANSWER_WAIT;
    while (comLink.readPort(answer, sizeof answer) == 0 && Clock::now() < answerLimit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void Controller::stopForDownload(link::ComLink& comLink, const std::function<void()>& handlePending) {
    view_.stopPollTimer();
    if (started_ && portOpen_ && comLink.workerRunning()) settleEscrow(comLink, handlePending);
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
