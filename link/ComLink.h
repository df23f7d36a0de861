// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The serial link: the port record (Connection), the port operations and the link worker.

#include "ExchangeRecorder.h"
#include "LinkData.h"
#include "LinkFault.h"
#include "PortMap.h"
#include "QuietWindow.h"
#include "RealtimePriority.h"
#include "SerialPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace norvex::link {

// How the worker reaches the main window.
class LinkNotifier {
public:
    virtual ~LinkNotifier() = default;
    // Hands a completion code to the main window and returns once it has been handled. Returns
    // at once (false) when the waits have been cancelled because the link is closing.
    virtual bool notify(std::uint8_t code) = 0;
    // The same for a completion that changes nothing the window shows at once (a bare ACK to
    // POLL): the window may take it with its next timer tick instead of being woken for it. The
    // worker still waits until it has been handled.
    virtual bool notifyAtNextTick(std::uint8_t code) { return notify(code); }
    // The worker stopped on a fault (the port vanished, waiting on it failed). Called once, from
    // the worker thread; the implementation shows it on its own thread.
    virtual void linkFailed(const LinkFault& fault) = 0;
    // Called by closePort before it joins the worker: a notify in progress or to come must
    // return at once instead of waiting for a thread that is busy closing the port.
    virtual void cancelWaits() = 0;
};

// The one serial-link record; created by open, released by closePort.
struct Connection {
    std::unique_ptr<SerialPort> portHandle;
    std::atomic<LinkNotifier*> ownerWindow{nullptr};
    std::atomic<int> connected{0};
};

using PortFactory = std::function<std::unique_ptr<SerialPort>()>;

// Real termios ports.
PortFactory termiosPortFactory();

class ComLink {
public:
    explicit ComLink(LinkData& data, PortMap& ports, PortFactory factory = termiosPortFactory());
    ~ComLink();
    ComLink(const ComLink&) = delete;
    ComLink& operator=(const ComLink&) = delete;

    // Opens the port chosen by portNumber with the line settings. On failure nothing stays open
    // and the fault is also left in openFault().
    LinkResult open(const LineSettings& settings);
    // Ends the worker (joined before the record is released), drops DTR, purges and closes.
    // Harmless when nothing is open or when called twice.
    void closePort();
    std::size_t readPort(std::uint8_t* buffer, std::size_t max);
    LinkResult writePort(const std::uint8_t* buffer, std::size_t length);
    void purgePort();

    // Creates the link worker with the current record: sets ownerWindow and responseMode (idle)
    // before the thread runs. Fails with the reason when it cannot start.
    LinkResult startWorker(LinkNotifier& owner);
    // Asks the worker to leave its loop once it has handed over what it has in hand (the port
    // stays open); closePort joins it.
    void stopWorker();
    bool workerRunning() const { return workerAlive_.load(); }

    Connection* info() { return info_.get(); }
    LinkData& data() { return data_; }
    PortMap& ports() { return ports_; }

    int portNumber() const { return portNumber_; }
    void setPortNumber(int n) { portNumber_ = n; }

    // Where the worker records every exchange with its times (nullptr: nowhere). Read by the
    // worker when it starts.
    void setRecorder(ExchangeRecorder* recorder) { recorder_ = recorder; }

    // Why the last open failed (kind None when it did not).
    const LinkFault& openFault() const { return openFault_; }
    // False when the driver could not give mark parity and the port runs with two stop bits.
    bool markParity() const;
    // How the worker frames short answers on the open port; it may change while the link runs
    // (see Framing).
    Framing framing() const { return framing_.load(); }
    // The quiet window that ends short answers on this port now, in µs (see QuietWindow).
    std::int32_t quietWindowUs() const { return quietWindowUs_.load(); }

    // Whether the worker runs real-time (Unknown until it has asked), and in words.
    WorkerPriority workerPriority() const { return priority_.load(); }
    std::string workerPriorityText() const {
        std::lock_guard<std::mutex> guard(priorityLock_);
        return priorityText_;
    }

private:
    void workerMain();

    LinkData& data_;
    PortMap& ports_;
    PortFactory factory_;
    std::unique_ptr<Connection> info_;
    std::thread worker_;
    std::atomic<bool> workerAlive_{false};
    std::atomic<Framing> framing_{Framing::QuietLine};
    std::atomic<ExchangeRecorder*> recorder_{nullptr};
    std::atomic<std::int32_t> quietWindowUs_{static_cast<std::int32_t>(QuietWindow::WIDEST.count())};
    mutable std::mutex priorityLock_;
    std::atomic<WorkerPriority> priority_{WorkerPriority::Unknown};
    std::string priorityText_;
    int wakeFd_ = -1;
    int portNumber_ = 0;
    LinkFault openFault_;
};

// Returns once a monotonic millisecond clock has advanced by at least ms.
void delayMs(unsigned ms);

} // namespace norvex::link
