// The controller's contact with the port: START, shut-down and the hand-over to the download.

#include "Controller.h"

namespace norvex::control {

bool Controller::start(link::ComLink& comLink, link::LinkNotifier& owner) {
    if (started_) return true;
    if (comLink.openPort(true, 3, 9600) == 0) {
        view_.messageBox("No Connection", "Info", MsgButtons::Ok, MsgIcon::None);
        return false;
    }
    if (!comLink.workerRunning()) {
        std::string error;
        if (!comLink.startWorker(owner, error)) {
            // Without the worker nothing would ever reach the validator: say so and stay stopped.
            comLink.closePort();
            view_.messageBox(error, "COM Error!", MsgButtons::Ok, MsgIcon::Warning);
            return false;
        }
    }
    portOpen_ = true;
    beginRunning();
    return true;
}

void Controller::shutdown(link::ComLink& comLink) {
    if (started_) {
        view_.stopPollTimer();
        started_ = false;
    }
    if (portOpen_) closeLink(comLink);
}

void Controller::stopForDownload(link::ComLink& comLink) {
    view_.stopPollTimer();
    started_ = false;
    closeLink(comLink);
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
