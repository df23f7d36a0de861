// SPDX-License-Identifier: GPL-3.0-or-later
#include "ComLink.h"

#include "MarkedInput.h"
#include "QuietWindow.h"
#include "ResendGuard.h"
#include "ResponseAssembler.h"
#include "TermiosPort.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
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

constexpr std::size_t READ_CHUNK = 128;

bool inputWaiting(SerialPort& port) {
    pollfd p{port.waitHandle(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// The acknowledge must follow a complete answer within 5 ms, or the validator sends the same data
// again. On a busy machine an ordinary thread can wait longer than that for a processor, so the
// worker asks for a real-time priority (see RealtimePriority); where none is granted it keeps the
// normal one. It spends its time blocked in poll(), so the priority costs nothing while the line
// is quiet.
constexpr int WORKER_PRIORITY = 10;

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

void ComLink::stopWorker() {
    if (info_) info_->connected = 0;
    if (wakeFd_ >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
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
    data_.workerWaiting = true;
    data_.wakeFd = wakeFd_;
    framing_ = Framing::QuietLine;
    quietWindowUs_ = static_cast<std::int32_t>(QuietWindow::WIDEST.count());
    priority_ = WorkerPriority::Unknown;
    {
        std::lock_guard<std::mutex> guard(priorityLock_);
        priorityText_.clear();
    }
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
    // The worker's first step is its priority, which the window shows beside the port: it is
    // known when START returns.
    for (int i = 0; i < 200 && priority_.load() == WorkerPriority::Unknown && workerAlive_.load(); ++i)
        std::this_thread::sleep_for(std::chrono::microseconds(500));
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
    ResendGuard resends;
    QuietWindow quiet;
    Clock::time_point lastSent{};     // last frame of more than one byte left
    Clock::time_point lastReceived{}; // last byte arrived
    bool inAnswer = false;            // bytes of an answer that has not ended have arrived
    bool endedByQuiet = false;        // the quiet window ended the last answer; no frame since
    constexpr Clock::time_point NEVER = Clock::time_point::max();
    Clock::time_point heldSince = NEVER;  // the slot's frame has been waiting since
    Clock::time_point quietUntil = NEVER; // a checksum match ends the answer if nothing comes before
    const std::uint8_t ack = 0x00;
    ExchangeRecorder* const recorder = recorder_.load();
    {
        std::string how;
        const WorkerPriority priority = makeThreadRealtime(WORKER_PRIORITY, how);
        {
            std::lock_guard<std::mutex> guard(priorityLock_);
            priorityText_ = how;
        }
        priority_ = priority;
    }

    auto fail = [&](const LinkFault& fault) {
        if (LinkNotifier* owner = info.ownerWindow.load(); owner && info.connected.load())
            owner->linkFailed(fault);
    };
    const std::string device = ports_.devicePath(portNumber_);
    const LinkFault portGone{FaultKind::Vanished, device + ": the port reported a hang-up or an error", 0,
                             device};
    // The acknowledge goes at once: MDB gives the controller 5 ms, whatever the window is busy
    // with. False when the window's wait was cancelled because the link is closing.
    std::uint8_t deferredCode = 0; // a completion held back until the line has stayed quiet
    Clock::time_point deferredUntil{};
    // An acknowledged answer taken up again stands as it first ended unless it ends as a longer
    // one: the validator had our acknowledge and has let its data go.
    std::uint8_t resumedCode = 0;
    Clock::time_point resumedUntil = NEVER;
    auto notifyWindow = [&](std::uint8_t code) {
        if (LinkNotifier* owner = info.ownerWindow.load()) return owner->notify(code);
        return true;
    };
    auto deliver = [&](const Completion& done) {
        framing_ = assembler.framing();
        if (done.checksumFault) {
            inAnswer = false;
            if (recorder) recorder->answerFaulty();
            return true;
        }
        if (!done.complete) return true;
        inAnswer = false;
        // The answer taken up again ended as a longer one, which holds the first ending's bytes.
        resumedCode = 0;
        resumedUntil = NEVER;
        // A write that fails marks the port failed, which the loop checks; one that stalls leaves
        // the answer to time out and be asked for again.
        if (done.ack) (void)port.write(&ack, 1);
        const auto ackAt = Clock::now();
        bool resend = false;
        if (done.code == RESP_POLL) {
            if (done.ack) {
                const ShortAnswer answer = data_.shortAnswer();
                const auto delay =
                    std::chrono::duration_cast<std::chrono::microseconds>(ackAt - lastReceived);
                resend = resends.answerAcknowledged(answer.bytes.data(), answer.length, delay);
            } else {
                resends.answerWithoutData();
            }
        }
        if (recorder) recorder->answerCompleted(done.code, done.ack, ackAt, resend);
        // The window has had this answer already: acknowledged again, it gives no event.
        if (resend) return true;
        if (done.resumable) {
            // Acknowledged at once, but handed on only once nothing more has come: a driver that
            // stops marking inside an answer ends it early by its marks, and a validator held up
            // inside an answer longer than the quiet window ends it early by the checksum match;
            // the rest of the answer must join it instead of being lost. Bytes of an answer
            // follow each other within the quiet window; once the answer has ended, no frame
            // goes out before ANSWER_GAP either.
            deferredCode = done.code;
            deferredUntil = done.byMark ? ackAt + std::chrono::duration_cast<Clock::duration>(quiet.window())
                                        : lastReceived + ANSWER_GAP;
            return true;
        }
        if (done.code == RESP_POLL && !done.ack && frame[0] == 0x33 && data_.shortAnswer().bytes[0] == 0x00) {
            // An idle validator's bare ACK to POLL, many times a second: the window takes it with
            // its next tick, which is when it would send the next frame anyway.
            if (LinkNotifier* owner = info.ownerWindow.load()) return owner->notifyAtNextTick(done.code);
            return true;
        }
        return notifyWindow(done.code);
    };
    // The answer that the mark ended is handed on, before anything else happens.
    auto deliverDeferred = [&] {
        if (deferredCode == 0) return true;
        const std::uint8_t code = deferredCode;
        deferredCode = 0;
        return notifyWindow(code);
    };

    auto standAsEnded = [&] {
        if (resumedCode == 0) return true;
        const std::uint8_t code = resumedCode;
        resumedCode = 0;
        resumedUntil = NEVER;
        inAnswer = false;
        quietUntil = NEVER;
        assembler.abandonResumedAnswer();
        resends.resumeAbandoned();
        return notifyWindow(code);
    };

    while (info.connected.load() != 0) {
        if (deferredCode != 0 && Clock::now() >= deferredUntil && !inputWaiting(port)) {
            if (!deliverDeferred()) continue;
        }
        if (quietUntil != NEVER && Clock::now() >= quietUntil && !inputWaiting(port)) {
            // Nothing came within the window after a checksum match: the answer ended there
            // (before any frame waiting in the slot goes out and abandons it).
            quietUntil = NEVER;
            const Completion done = assembler.lineQuiet();
            endedByQuiet = done.complete;
            if (!deliver(done)) continue;
        }
        if (resumedCode != 0 && Clock::now() >= resumedUntil && !inputWaiting(port)) {
            // The line fell quiet and the answer taken up again did not end as a longer one.
            if (!standAsEnded()) continue;
        }

        // A frame in the slot waits while bytes are arriving (the rest of an answer, even one
        // that completed early, would otherwise run into the next answer) and, after a frame that
        // expects an answer, while that answer may still begin. A line that never falls quiet
        // (garbage) holds a frame back for MAX_HOLD at most.
        bool holding = false;
        Clock::time_point wakeAt = deferredCode != 0 ? std::min(quietUntil, deferredUntil) : quietUntil;
        if (resumedCode != 0) wakeAt = std::min(wakeAt, resumedUntil);
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
            if (!standAsEnded() || !deliverDeferred()) continue;
            std::size_t n = data_.take(frame);
            if (n > 0) {
                if (n > 1) {
                    port.purge();
                    marks.reset();
                }
                assembler.frameSent(frame.data(), n);
                resends.frameSent(frame.data(), n);
                if (n > 1) {
                    inAnswer = false;
                    endedByQuiet = false;
                }
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
        // A sender wakes the worker only while it waits; one that placed its frame just before
        // this is seen here instead.
        data_.workerWaiting = true;
        if (!holding && data_.txLength.load() != 0) {
            data_.workerWaiting = false;
            continue;
        }
        const int ready = ::ppoll(fds, 2, wakeAt != NEVER ? &timeout : nullptr, nullptr);
        data_.workerWaiting = false;
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
            const auto now = Clock::now();
            if (inAnswer || (endedByQuiet && now - lastReceived < ANSWER_GAP)) {
                // A gap inside an answer; after an answer the quiet window ended, a gap that
                // window took for its end.
                quiet.gapSeen(std::chrono::duration_cast<std::chrono::microseconds>(now - lastReceived));
            }
            endedByQuiet = false;
            lastReceived = now;
            // Bytes after an answer ended on its checksum, while it is still held back: the answer
            // goes on. (Later ones are stray bytes; after a mode-bit ending the assembler takes
            // them as the marks' fault too.)
            if (deferredCode != 0 && assembler.resumeEndedAnswer()) {
                resumedCode = deferredCode;
                deferredCode = 0;
                inAnswer = true;
                resends.answerResumed();
                framing_ = assembler.framing();
            }
            std::size_t n = got;
            if (marked) {
                n = marks.decode(chunk.data(), got, hand.data());
            } else {
                for (std::size_t i = 0; i < got; ++i)
                    hand[i] = {chunk[i], false};
            }
            std::size_t used = 0; // bytes fed: those after a completing byte are dropped
            const Completion done = assembler.feedRead(hand.data(), n, used);
            inAnswer =
                n > 0 && !done.complete && !done.checksumFault && data_.responseMode.load() != MODE_IDLE;
            if (recorder) recorder->received(hand.data(), n, used, lastReceived);
            if (resumedCode != 0) resumedUntil = lastReceived + quiet.window();
            // The quiet window runs from the last byte that arrived, even half an escape.
            quietUntil = NEVER;
            if (assembler.awaitingQuiet()) {
                // Where the port's marks are trusted, a match waits only to find out whether the
                // marks lie (the byte was marked, so by them the answer goes on): as long as any
                // answer may pause.
                quietUntil =
                    lastReceived + (assembler.framing() == Framing::ModeBit
                                        ? std::chrono::duration_cast<Clock::duration>(ANSWER_GAP)
                                        : std::chrono::duration_cast<Clock::duration>(quiet.window()));
                quietWindowUs_.store(static_cast<std::int32_t>(quiet.window().count()));
            }
            if (!deliver(done)) break;
            if (info.connected.load() == 0) break;
            // A read that did not fill the chunk took all there was: the wait sees what comes next.
            if (got < chunk.size()) break;
        }
        if (port.failed()) {
            fail(portGone);
            break;
        }
    }
    // An answer acknowledged and held back is handed over before the worker ends (when the link
    // is closing, the window's wait is cancelled and this returns at once).
    (void)standAsEnded();
    (void)deliverDeferred();
    if (recorder) recorder->linkClosed();
    workerAlive_ = false;
}

} // namespace norvex::link
