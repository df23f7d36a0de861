// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How the link says that something failed: one fault type for opening the port, for operations
// on an open port and for the worker. The link reports what happened; the window decides what to
// show and under which caption.

#include <string>
#include <utility>

namespace norvex::link {

enum class FaultKind {
    None,
    // Opening a port.
    NoPort,       // no device is assigned to the chosen port, or no port object could be made
    NotFound,     // the device is not there
    NoPermission, // this user may not open it
    Busy,         // another program holds it
    NotSerial,    // it exists but is no terminal
    Settings,     // the speed is not supported or the driver refused the line settings
    OpenFailed,   // the system refused the open for another reason
    // An open port.
    NotOpen,  // the operation needs an open port
    Stalled,  // a write found the device taking no byte for the stall limit
    Vanished, // the device reported a hang-up or an error: it is gone (adapter unplugged)
    // The link worker.
    WaitFailed,     // waiting on the port failed
    AlreadyRunning, // a worker runs already
    WakeUp,         // the worker's wake-up event could not be made
    NoThread,       // the worker thread could not be started
};

struct LinkFault {
    FaultKind kind = FaultKind::None;
    // In the system's words, with the device: for logs and the batch mode's report.
    std::string detail;
    // The error number the system left (0: none).
    int errorNumber = 0;
    // The device the fault concerns (may be empty).
    std::string device;
};

// The outcome of an operation that can fail: true, or false with the fault that stopped it.
class [[nodiscard]] LinkResult {
public:
    LinkResult() = default;
    LinkResult(LinkFault fault) : fault_(std::move(fault)) {} // NOLINT: a fault converts to a failure

    bool ok() const { return fault_.kind == FaultKind::None; }
    explicit operator bool() const { return ok(); }
    const LinkFault& fault() const { return fault_; }

private:
    LinkFault fault_;
};

} // namespace norvex::link
