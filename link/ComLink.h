#pragma once
// The serial link: the port record (Connection), the port operations and the link worker.

#include "ExchangeRecorder.h"
#include "LinkData.h"
#include "PortMap.h"
#include "SerialPort.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
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
    // The worker stopped on a fault (the port vanished, its wake-up event could not be made).
    // Called once, from the worker thread; the implementation shows it on its own thread.
    virtual void linkFailed(const std::string& text, const std::string& caption) = 0;
    // Called by closePort before it joins the worker: a notify in progress or to come must
    // return at once instead of waiting for a thread that is busy closing the port.
    virtual void cancelWaits() = 0;
};

// The one serial-link record; created by openPort, released by closePort.
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

    // Opens the port chosen by portNumber. parity: 0 none, 1 odd, 2 even, 3 mark, 4 space.
    // Returns non-zero on success; on failure lastError() says why and nothing stays open.
    int openPort(bool asynchronous, int parity, std::uint32_t baud);
    // Ends the worker (joined before the record is released), drops DTR, purges and closes.
    // Harmless when nothing is open or when called twice.
    void closePort();
    std::size_t readPort(std::uint8_t* buffer, std::size_t max);
    bool writePort(const std::uint8_t* buffer, std::size_t length);
    void purgePort();

    // Creates the link worker with the current record: sets ownerWindow and responseMode (idle)
    // before the thread runs. False, with the reason in `error`, when it cannot start.
    bool startWorker(LinkNotifier& owner, std::string& error);
    bool workerRunning() const { return workerAlive_.load(); }

    Connection* info() { return info_.get(); }
    LinkData& data() { return data_; }
    PortMap& ports() { return ports_; }

    int portNumber() const { return portNumber_; }
    void setPortNumber(int n) { portNumber_ = n; }

    // Where the worker records every exchange with its times (nullptr: nowhere). Read by the
    // worker when it starts.
    void setRecorder(ExchangeRecorder* recorder) { recorder_ = recorder; }

    const std::string& lastError() const { return lastError_; }
    // The error number the last failed open left (0 when none was left).
    int lastOpenErrno() const { return lastOpenErrno_; }
    // False when the driver could not give mark parity and the port runs with two stop bits.
    bool markParity() const;
    // How the worker frames short answers on the open port; it may change while the link runs
    // (see Framing).
    Framing framing() const { return framing_.load(); }

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
    int wakeFd_ = -1;
    int portNumber_ = 0;
    std::string lastError_;
    int lastOpenErrno_ = 0;
};

// Returns once a monotonic millisecond clock has advanced by at least ms.
void delayMs(unsigned ms);

} // namespace norvex::link
