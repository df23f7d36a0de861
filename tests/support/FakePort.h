#pragma once
// A scripted serial port: the test feeds the bytes "received" from the validator and reads
// back what the link wrote. Received bytes travel through a pipe so that the worker can wait
// on them with poll() as on a real port.

#include "link/ComLink.h"
#include "link/SerialPort.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <string>
#include <unistd.h>
#include <vector>

namespace norvex::test {

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

    FakePortState() {
        if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0) pipeFds[0] = pipeFds[1] = -1;
    }
    ~FakePortState() {
        if (pipeFds[0] >= 0) ::close(pipeFds[0]);
        if (pipeFds[1] >= 0) ::close(pipeFds[1]);
    }

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
    int waitHandle() const override { return s_->pipeFds[0]; }
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
