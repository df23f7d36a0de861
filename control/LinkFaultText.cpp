// SPDX-License-Identifier: GPL-3.0-or-later
#include "LinkFaultText.h"

namespace norvex::control {

std::string linkFaultText(const link::LinkFault& fault) {
    using link::FaultKind;
    switch (fault.kind) {
    case FaultKind::Vanished:
        return "The serial port " + fault.device +
               " stopped working (adapter unplugged?). Plug it back in and press START.";
    case FaultKind::WaitFailed:
        return "Waiting on the serial port failed.";
    case FaultKind::NotOpen:
        return "No Connection";
    case FaultKind::AlreadyRunning:
        return "the link worker is already running";
    case FaultKind::WakeUp:
        return "Failed to create event for thread!";
    case FaultKind::NoThread:
        return "Failed to create the link thread!";
    default:
        return fault.detail;
    }
}

} // namespace norvex::control
