// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A scripted serial port: the test feeds the bytes "received" from the validator and reads
// back what the link wrote. Received bytes travel through a pipe so that the worker can wait
// on them with poll() as on a real port.

#include "link/ComLink.h"
#include "link/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <sys/epoll.h>
#include <sys/timerfd.h>
#include <unistd.h>
#include <vector>

namespace norvex::test {

// A fixed-length record of `length` bytes: `fill` repeated, then the checksum of those bytes.
inline std::vector<std::uint8_t> recordOf(std::size_t length, std::uint8_t fill) {
    std::vector<std::uint8_t> r(length - 1, fill);
    r.push_back(static_cast<std::uint8_t>((length - 1) * fill));
    return r;
}

struct FakePortState {
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::uint8_t> written;
    std::vector<std::vector<std::uint8_t>> writes; // one entry per write call
    std::vector<std::chrono::steady_clock::time_point> writeTimes;
    int purges = 0;
    bool dtr = false;
    bool failOpen = false;
    bool opened = false;
    bool markParity = true;
    bool marks = false; // reads deliver the marked form (FF 00 x, FF FF)
    int opens = 0;
    int pipeFds[2] = {-1, -1};
    bool vanished = false;

    // A paced line: a kernel timer releases one byte per period, so bytes keep coming however
    // late the test's own threads are scheduled on a loaded machine. While it runs the worker
    // waits on an epoll set of the pipe and the timer.
    int timerFd = -1;
    int epollFd = -1;
    bool pacing = false;
    std::deque<std::uint8_t> paced; // bytes still to release; empty with `pacedFill` = endless
    bool pacedEndless = false;
    std::uint8_t pacedFill = 0;
    std::uint64_t pacedDue = 0; // timer periods that have passed but whose bytes are not read

    FakePortState() {
        if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) pipeFds[0] = pipeFds[1] = -1;
        timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        epollFd = ::epoll_create1(EPOLL_CLOEXEC);
        epoll_event in{};
        in.events = EPOLLIN;
        in.data.fd = pipeFds[0];
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, pipeFds[0], &in);
        in.data.fd = timerFd;
        ::epoll_ctl(epollFd, EPOLL_CTL_ADD, timerFd, &in);
    }
    ~FakePortState() {
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        if (pipeFds[1] >= 0) ::close(pipeFds[1]);
        if (timerFd >= 0) ::close(timerFd);
        if (epollFd >= 0) ::close(epollFd);
    }

    // Releases `bytes` one per `period`, the first after one period.
    void pace(const std::vector<std::uint8_t>& bytes, std::chrono::microseconds period) {
        std::lock_guard<std::mutex> lk(m);
        paced.assign(bytes.begin(), bytes.end());
        pacedEndless = false;
        startTimer(period);
    }
    // A line that never falls quiet: `fill` once per period until stopPacing().
    void paceEndlessly(std::uint8_t fill, std::chrono::microseconds period) {
        std::lock_guard<std::mutex> lk(m);
        paced.clear();
        pacedEndless = true;
        pacedFill = fill;
        startTimer(period);
    }
    void stopPacing() {
        std::lock_guard<std::mutex> lk(m);
        const itimerspec off{};
        ::timerfd_settime(timerFd, 0, &off, nullptr);
        pacing = false;
        paced.clear();
        pacedDue = 0;
    }
    int waitFd() {
        std::lock_guard<std::mutex> lk(m);
        return pacing ? epollFd : pipeFds[0];
    }
    // The paced bytes whose time has come, at most max.
    std::size_t takePaced(std::uint8_t* buffer, std::size_t max) {
        std::lock_guard<std::mutex> lk(m);
        if (!pacing) return 0;
        std::uint64_t expired = 0;
        if (::read(timerFd, &expired, sizeof expired) == sizeof expired) pacedDue += expired;
        std::size_t n = 0;
        while (n < max && pacedDue > 0 && (pacedEndless || !paced.empty())) {
            buffer[n++] = pacedEndless ? pacedFill : paced.front();
            if (!pacedEndless) paced.pop_front();
            --pacedDue;
        }
        if (!pacedEndless && paced.empty()) {
            const itimerspec off{};
            ::timerfd_settime(timerFd, 0, &off, nullptr);
            pacing = false;
            pacedDue = 0;
        }
        return n;
    }

private:
    void startTimer(std::chrono::microseconds period) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(period).count();
        itimerspec every{};
        every.it_interval.tv_sec = static_cast<time_t>(ns / 1000000000);
        every.it_interval.tv_nsec = static_cast<long>(ns % 1000000000);
        every.it_value = every.it_interval;
        pacedDue = 0;
        pacing = true;
        ::timerfd_settime(timerFd, 0, &every, nullptr);
    }

public:
    // Bytes from the validator.
    void feed(const std::vector<std::uint8_t>& bytes) {
        [[maybe_unused]] ssize_t n = ::write(pipeFds[1], bytes.data(), bytes.size());
    }
    // The adapter disappears: the wait handle reports a hang-up.
    void vanish() {
        std::lock_guard<std::mutex> lk(m);
        vanished = true;
        if (pipeFds[1] >= 0) {
            ::close(pipeFds[1]);
            pipeFds[1] = -1;
        }
    }
    // Waits until at least `count` write calls happened.
    bool waitWrites(std::size_t count, int timeoutMs = 2000) {
        std::unique_lock<std::mutex> lk(m);
        return cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return writes.size() >= count; });
    }
    std::vector<std::vector<std::uint8_t>> writesSnapshot() {
        std::lock_guard<std::mutex> lk(m);
        return writes;
    }
};

class FakePort : public link::SerialPort {
public:
    explicit FakePort(std::shared_ptr<FakePortState> s) : s_(std::move(s)) {}

    link::LinkResult open(const std::string& path, const link::LineSettings&) override {
        std::lock_guard<std::mutex> lk(s_->m);
        ++s_->opens;
        if (s_->failOpen)
            return link::LinkFault{link::FaultKind::OpenFailed, "fake port refuses to open", 0, path};
        s_->opened = true;
        s_->dtr = true;
        return {};
    }
    void close() override {
        std::lock_guard<std::mutex> lk(s_->m);
        s_->opened = false;
    }
    bool isOpen() const override {
        std::lock_guard<std::mutex> lk(s_->m);
        return s_->opened;
    }
    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        const std::size_t fromTimer = s_->takePaced(buffer, max);
        if (fromTimer > 0) return fromTimer;
        const ssize_t n = ::read(s_->pipeFds[0], buffer, max);
        if (n == 0) failed_ = true;
        return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    link::LinkResult write(const std::uint8_t* buffer, std::size_t length) override {
        std::lock_guard<std::mutex> lk(s_->m);
        s_->written.insert(s_->written.end(), buffer, buffer + length);
        s_->writes.emplace_back(buffer, buffer + length);
        s_->writeTimes.push_back(std::chrono::steady_clock::now());
        s_->cv.notify_all();
        return {};
    }
    // Like a real purge, discards the input that has arrived but was not read.
    void purge() override {
        std::lock_guard<std::mutex> lk(s_->m);
        ++s_->purges;
        std::uint8_t sink[256];
        while (::read(s_->pipeFds[0], sink, sizeof sink) > 0) {
        }
    }
    void setDtr(bool on) override {
        std::lock_guard<std::mutex> lk(s_->m);
        s_->dtr = on;
    }
    int waitHandle() const override { return s_->waitFd(); }
    bool markParityHonoured() const override { return s_->markParity; }
    bool deliversMarks() const override { return s_->marks; }
    bool failed() const override { return failed_; }

private:
    std::shared_ptr<FakePortState> s_;
    bool failed_ = false;
};

inline link::PortFactory fakePortFactory(std::shared_ptr<FakePortState> state) {
    return [state] { return std::make_unique<FakePort>(state); };
}

} // namespace norvex::test
