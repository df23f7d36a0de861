// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusTap.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvex::link {

namespace {

std::int64_t monotonicUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t wallUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// The longest the thread sleeps with nothing to wait for: how soon it sees that close() began
// if the wake-up were lost.
constexpr int IDLE_WAIT_MS = 200;

} // namespace

LinkResult BusTap::open(const std::string& controllerPath, const std::string& peripheralPath,
                        Line* failedLine) {
    close();
    paths_[0] = controllerPath;
    paths_[1] = peripheralPath;
    // One device for both lines would read each byte twice, or not open at all (the first open
    // holds it): said plainly.
    struct stat a {
    }, b{};
    if (::stat(controllerPath.c_str(), &a) == 0 && ::stat(peripheralPath.c_str(), &b) == 0 &&
        S_ISCHR(a.st_mode) && a.st_rdev == b.st_rdev) {
        if (failedLine) *failedLine = Line::Peripheral;
        return LinkFault{FaultKind::OpenFailed,
                         peripheralPath + " is the same device as " + controllerPath +
                             ": the controller's line and the peripherals' line need a serial input each",
                         0, peripheralPath};
    }
    for (std::size_t i = 0; i < 2; ++i) {
        if (LinkResult opened = lines_[i].open(paths_[i]); !opened) {
            if (failedLine) *failedLine = static_cast<Line>(i);
            for (TapLine& l : lines_)
                l.close();
            return opened;
        }
        marks_[i] = lines_[i].deliversMarks();
        markParity_[i] = lines_[i].markParity();
        framing_[i] = Framing::QuietLine;
    }
    swapped_ = false;
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        const int err = errno;
        for (TapLine& l : lines_)
            l.close();
        return LinkFault{FaultKind::WakeUp, std::string("eventfd: ") + std::strerror(err), err,
                         controllerPath};
    }
    wallOffsetUs_ = wallUs() - monotonicUs();
    stop_ = false;
    failed_ = false;
    lost_ = 0;
    {
        std::lock_guard<std::mutex> guard(lock_);
        fault_ = {};
        queue_.clear();
    }
    running_ = true;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error& e) {
        running_ = false;
        ::close(wakeFd_);
        wakeFd_ = -1;
        for (TapLine& l : lines_)
            l.close();
        return LinkFault{FaultKind::NoThread, e.what(), e.code().value(), controllerPath};
    }
    return {};
}

void BusTap::close() {
    if (thread_.joinable()) {
        stop_ = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t w = ::write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
        wakeFd_ = -1;
    }
    for (TapLine& l : lines_)
        l.close();
    running_ = false;
}

std::size_t BusTap::drain(std::vector<HeardExchange>& out) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::size_t n = queue_.size();
    out.insert(out.end(), queue_.begin(), queue_.end());
    queue_.clear();
    return n;
}

LinkFault BusTap::fault() const {
    std::lock_guard<std::mutex> guard(lock_);
    return fault_;
}

void BusTap::fail(FaultKind kind, const std::string& detail, const std::string& device) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        fault_ = LinkFault{kind, detail, 0, device};
    }
    failed_ = true;
}

void BusTap::publish(BusListener& listener) {
    std::vector<HeardExchange> fresh;
    if (listener.take(fresh) == 0) return;
    std::lock_guard<std::mutex> guard(lock_);
    for (HeardExchange& h : fresh) {
        if (queue_.size() >= QUEUE_LIMIT) {
            queue_.pop_front();
            ++lost_;
        }
        queue_.push_back(h);
    }
}

void BusTap::run() {
    // The read times are the timing of the exchanges: a thread that waits for a processor reads
    // late and would mark answers late that were not. A real-time priority where permitted; it
    // sleeps in poll(), so it costs nothing while the bus is quiet.
    sched_param sp{};
    sp.sched_priority = 10;
    (void)::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &sp);
    BusListener listener(wallOffsetUs_);
    LineByte bytes[256];
    pollfd fds[3] = {
        {lines_[0].waitHandle(), POLLIN, 0}, {lines_[1].waitHandle(), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    while (!stop_.load()) {
        int waitMs = IDLE_WAIT_MS;
        if (const auto due = listener.deadline()) {
            const std::int64_t left = *due - monotonicUs();
            waitMs =
                left <= 0 ? 0 : static_cast<int>(std::min<std::int64_t>((left + 999) / 1000, IDLE_WAIT_MS));
        }
        const int ready = ::poll(fds, 3, waitMs);
        if (ready < 0 && errno != EINTR) {
            fail(FaultKind::WaitFailed, std::string("waiting on the lines failed: ") + std::strerror(errno),
                 paths_[0]);
            break;
        }
        if (stop_.load()) break;
        bool gone = false;
        for (std::size_t i = 0; i < 2; ++i) {
            if (ready <= 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL))) continue;
            // Everything waiting, one read at a time, each with its own time.
            for (;;) {
                const std::size_t n = lines_[i].read(bytes, sizeof bytes / sizeof bytes[0]);
                if (n == 0) break;
                listener.received(static_cast<Line>(i), bytes, n, monotonicUs());
            }
            if (lines_[i].vanished()) {
                fail(FaultKind::Vanished, paths_[i] + ": the line reported a hang-up or an error", paths_[i]);
                gone = true;
            }
        }
        listener.advance(monotonicUs());
        framing_[0] = listener.framing(Line::Controller);
        framing_[1] = listener.framing(Line::Peripheral);
        swapped_ = listener.linesLookSwapped();
        publish(listener);
        if (gone) break;
    }
    listener.finish(monotonicUs());
    publish(listener);
    running_ = false;
}

} // namespace norvex::link
