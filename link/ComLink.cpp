#include "ComLink.h"

#include "MarkedInput.h"
#include "ResponseAssembler.h"
#include "TermiosPort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace norvex::link {

namespace {

using Clock = std::chrono::steady_clock;

// A frame is not sent into an answer: it waits while bytes are arriving and, after a frame that
// expects an answer, while that answer may still begin. MDB gives the validator 5 ms to begin and
// sends the bytes of an answer back to back (at most 1 ms apart); this allows for the time the
// bytes spend in drivers. Once the line has been quiet this long, the answer is over.
constexpr auto ANSWER_GAP = std::chrono::milliseconds(10);

// The longest a frame waits for a line that does not fall quiet: longer than any answer
// (the 337-byte optics record takes 386 ms).
constexpr auto MAX_HOLD = std::chrono::milliseconds(1000);

// How long the line must stay quiet after a byte that equals the running sum of a short answer
// before that byte counts as the answer's checksum. A validator sends the bytes of an answer
// back to back: a character takes 1.146 ms at 9600 baud (11 bits) and MDB allows 1 ms between
// characters, so on the wire one byte ends at most 2.15 ms after the one before. The port adds
// its own delay on top: bytes paced 1.146 ms apart by a real-time writer through a
// pseudo-terminal reach a real-time reader on these machines with a median gap of 1.14 ms and a
// p99 of 1.2-1.8 ms while other programs run, 2.3 ms while a build keeps both processors busy
// (the kernel hands the bytes over in a worker thread of normal priority); a USB adapter at its
// lowest latency setting holds a byte back up to 1 ms. 3 ms covers the wire's worst case with
// 0.85 ms to spare for the port (the virtual validator, which leaves no gap, has 1.85 ms) and
// leaves the acknowledge about 2 ms of the 5 ms MDB gives it. A machine that stalls the delivery
// longer than that in the middle of an answer can still end it early; the figures are in the
// link benchmark.
constexpr auto QUIET_WINDOW = std::chrono::microseconds(3000);

constexpr std::size_t READ_CHUNK = 128;

bool inputWaiting(SerialPort& port) {
    pollfd p{port.waitHandle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// The acknowledge must follow a complete answer within 5 ms, or the validator sends the same data
// again. On a busy machine an ordinary thread can wait longer than that for a processor, so the
// worker asks for a real-time priority; where that is not permitted it keeps the normal one. It
// spends its time blocked in poll(), so the priority costs nothing while the line is quiet.
void raiseWorkerPriority() {
    sched_param sp{};
    sp.sched_priority = 10;
    (void)::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &sp);
}

} // namespace

PortFactory termiosPortFactory() {
    return [] { return std::make_unique<TermiosPort>(); };
}

void delayMs(unsigned ms) {
    const auto until = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < until)
        std::this_thread::sleep_until(until);
}

ComLink::ComLink(LinkData& data, PortMap& ports, PortFactory factory)
    : data_(data), ports_(ports), factory_(std::move(factory)) {}

ComLink::~ComLink() {
    closePort();
}

LinkResult ComLink::open(const LineSettings& settings) {
    closePort();
    openFault_ = {};
    const std::string path = ports_.devicePath(portNumber_);
    if (path.empty()) {
        openFault_ = {FaultKind::NoPort, "no serial port " + std::to_string(portNumber_), 0, path};
        return openFault_;
    }
    auto record = std::make_unique<Connection>();
    record->portHandle = factory_();
    if (!record->portHandle) {
        openFault_ = {FaultKind::NoPort, "No COMINFO", 0, path};
        return openFault_;
    }
    if (LinkResult opened = record->portHandle->open(path, settings); !opened) {
        openFault_ = opened.fault();
        return opened;
    }
    record->connected = 1;
    info_ = std::move(record);
    return {};
}

void ComLink::closePort() {
    if (info_) {
        info_->connected = 0;
        if (LinkNotifier* owner = info_->ownerWindow.load()) owner->cancelWaits();
    }
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
    if (worker_.joinable()) worker_.join();
    workerAlive_ = false;
    data_.wakeFd = -1;
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    if (!info_) return;
    if (info_->portHandle) {
        info_->portHandle->setDtr(false);
        info_->portHandle->purge();
        info_->portHandle->close();
    }
    info_.reset();
    // A frame left in the slot would never go out: the next worker starts with a free slot.
    data_.release();
}

std::size_t ComLink::readPort(std::uint8_t* buffer, std::size_t max) {
    if (!info_ || !info_->portHandle) return 0;
    return info_->portHandle->read(buffer, max);
}

LinkResult ComLink::writePort(const std::uint8_t* buffer, std::size_t length) {
    if (!info_ || !info_->portHandle) return LinkFault{FaultKind::NotOpen, "the port is not open", 0, {}};
    return info_->portHandle->write(buffer, length);
}

void ComLink::purgePort() {
    if (info_ && info_->portHandle) info_->portHandle->purge();
}

bool ComLink::markParity() const {
    return info_ && info_->portHandle && info_->portHandle->markParityHonoured();
}

LinkResult ComLink::startWorker(LinkNotifier& owner) {
    if (!info_ || info_->connected.load() == 0)
        return LinkFault{FaultKind::NotOpen, "the port is not open", 0, {}};
    if (worker_.joinable())
        return LinkFault{FaultKind::AlreadyRunning, "the link worker is already running", 0, {}};
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        const int err = errno;
        return LinkFault{FaultKind::WakeUp, std::string("eventfd: ") + std::strerror(err), err, {}};
    }
    // Everything the worker reads is in place before it runs.
    info_->ownerWindow = &owner;
    data_.responseMode = MODE_IDLE;
    data_.wakeFd = wakeFd_;
    framing_ = Framing::QuietLine;
    workerAlive_ = true;
    try {
        worker_ = std::thread([this] { workerMain(); });
    } catch (const std::system_error& e) {
        workerAlive_ = false;
        data_.wakeFd = -1;
        ::close(wakeFd_);
        wakeFd_ = -1;
        return LinkFault{FaultKind::NoThread, e.what(), e.code().value(), {}};
    }
    return {};
}

void ComLink::workerMain() {
    Connection& info = *info_;
    SerialPort& port = *info.portHandle;
    ResponseAssembler assembler(data_);
    MarkedInput marks;
    const bool marked = port.deliversMarks();
    std::array<std::uint8_t, READ_CHUNK> chunk{};
    std::array<LineByte, READ_CHUNK> hand{};
    std::array<std::uint8_t, TX_SLOT_SIZE> frame{};
    Clock::time_point lastSent{};     // last frame of more than one byte left
    Clock::time_point lastReceived{}; // last byte arrived
    constexpr Clock::time_point NEVER = Clock::time_point::max();
    Clock::time_point heldSince = NEVER;  // the slot's frame has been waiting since
    Clock::time_point quietUntil = NEVER; // a checksum match ends the answer if nothing comes before
    const std::uint8_t ack = 0x00;
    ExchangeRecorder* const recorder = recorder_.load();
    raiseWorkerPriority();

    auto fail = [&](const LinkFault& fault) {
        if (LinkNotifier* owner = info.ownerWindow.load(); owner && info.connected.load())
            owner->linkFailed(fault);
    };
    const std::string device = ports_.devicePath(portNumber_);
    const LinkFault portGone{FaultKind::Vanished, device + ": the port reported a hang-up or an error", 0,
                             device};
    // The acknowledge goes at once: MDB gives the controller 5 ms, whatever the window is busy
    // with. False when the window's wait was cancelled because the link is closing.
    auto deliver = [&](const Completion& done) {
        framing_ = assembler.framing();
        if (!done.complete) return true;
        // A write that fails marks the port failed, which the loop checks; one that stalls leaves
        // the answer to time out and be asked for again.
        if (done.ack) (void)port.write(&ack, 1);
        if (recorder) recorder->answerCompleted(done.code, done.ack, Clock::now());
        if (LinkNotifier* owner = info.ownerWindow.load()) return owner->notify(done.code);
        return true;
    };

    while (info.connected.load() != 0) {
        if (quietUntil != NEVER && Clock::now() >= quietUntil && !inputWaiting(port)) {
            // Nothing came within the window after a checksum match: the answer ended there
            // (before any frame waiting in the slot goes out and abandons it).
            quietUntil = NEVER;
            if (!deliver(assembler.lineQuiet())) continue;
        }

        // A frame in the slot waits while bytes are arriving (the rest of an answer, even one
        // that completed early, would otherwise run into the next answer) and, after a frame that
        // expects an answer, while that answer may still begin. A line that never falls quiet
        // (garbage) holds a frame back for MAX_HOLD at most.
        bool holding = false;
        Clock::time_point wakeAt = quietUntil;
        if (data_.txLength.load() != 0) {
            const auto now = Clock::now();
            if (heldSince == NEVER) heldSince = now;
            if (now - heldSince < MAX_HOLD) {
                if (inputWaiting(port)) {
                    // Bytes that arrived while this thread was not running are taken before the
                    // next frame's purge would throw them away.
                    holding = true;
                    wakeAt = now;
                } else {
                    auto until = lastReceived + ANSWER_GAP;
                    if (data_.responseMode.load() != MODE_IDLE)
                        until = std::max(until, lastSent + ANSWER_GAP);
                    until = std::min(until, heldSince + MAX_HOLD);
                    if (now < until) {
                        holding = true;
                        wakeAt = std::min(wakeAt, until);
                    }
                }
            }
        }
        if (!holding && data_.txLength.load() != 0) {
            // Transmit steps.
            std::size_t n = data_.take(frame);
            if (n > 0) {
                if (n > 1) {
                    port.purge();
                    marks.reset();
                }
                assembler.frameSent(frame.data(), n);
                if (!assembler.awaitingQuiet()) quietUntil = NEVER;
                (void)port.write(frame.data(), n); // a failure shows in port.failed() below
                const auto leftAt = Clock::now();
                if (n > 1) lastSent = leftAt;
                if (recorder) recorder->frameSent(frame.data(), n, leftAt);
                heldSince = NEVER;
                data_.release();
            }
            if (port.failed()) {
                fail(portGone);
                break;
            }
            continue;
        }

        timespec timeout{};
        if (wakeAt != NEVER) {
            const auto left = std::max(Clock::duration::zero(), wakeAt - Clock::now());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
            timeout.tv_nsec = static_cast<long>(ns % 1000000000);
        }
        pollfd fds[2] = {{port.waitHandle(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        const int ready = ::ppoll(fds, 2, wakeAt != NEVER ? &timeout : nullptr, nullptr);
        if (ready < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            fail({FaultKind::WaitFailed, std::string("ppoll: ") + std::strerror(err), err, device});
            break;
        }
        if (fds[1].revents & POLLIN) {
            std::uint64_t count = 0;
            [[maybe_unused]] ssize_t r = ::read(wakeFd_, &count, sizeof count);
        }
        if (info.connected.load() == 0) break;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            // The device is gone: say so once and stop touching it.
            fail(portGone);
            break;
        }
        if (!(fds[0].revents & POLLIN)) continue;

        // Receive steps: read what has arrived, take it back to the bytes on the wire and feed
        // them one by one. A byte that follows a checksum match settles it as a status byte. A
        // record complete by its length or a bare ACK or NAK drops the rest of that read: those
        // bytes belong to no answer, and the next frame's purge cannot reach bytes already read.
        for (;;) {
            const std::size_t got = port.read(chunk.data(), chunk.size());
            if (got == 0) break;
            lastReceived = Clock::now();
            std::size_t n = got;
            if (marked) {
                n = marks.decode(chunk.data(), got, hand.data());
            } else {
                for (std::size_t i = 0; i < got; ++i)
                    hand[i] = {chunk[i], false};
            }
            std::size_t used = 0; // bytes fed: those after a completing byte are dropped
            const Completion done = assembler.feedRead(hand.data(), n, used);
            if (recorder) recorder->received(hand.data(), n, used, lastReceived);
            // The quiet window runs from the last byte that arrived, even half an escape.
            quietUntil = NEVER;
            if (assembler.awaitingQuiet()) {
                // Where the port's marks are trusted, a match waits only to find out whether the
                // marks lie (the byte was marked, so by them the answer goes on): as long as any
                // answer may pause.
                quietUntil =
                    lastReceived + (assembler.framing() == Framing::ModeBit ? ANSWER_GAP : QUIET_WINDOW);
            }
            if (!deliver(done)) break;
            if (info.connected.load() == 0) break;
        }
        if (port.failed()) {
            fail(portGone);
            break;
        }
    }
    if (recorder) recorder->linkClosed();
    workerAlive_ = false;
}

} // namespace norvex::link
