// Link worker figures over a pseudo-terminal:
//  1. ACK latency: from the peer writing the last byte of a data response to the ACK reaching
//     the peer, while the window's handler deliberately takes 20 ms per notification;
//  2. the processor time of the link (worker thread, plus the idle main thread) while idle for
//     10 s and while exchanging a POLL every 20 ms for 10 s.
// The peer runs in a child process so that its own work is not counted.

#include "link/ComLink.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace norvex::link;
using Clock = std::chrono::steady_clock;

namespace {

class SlowWindow : public LinkNotifier {
public:
    std::atomic<int> delayMs{0};
    std::atomic<int> count{0};
    bool notify(std::uint8_t) override {
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        ++count;
        return true;
    }
    void linkFailed(const std::string& t, const std::string&) override { std::fprintf(stderr, "link failed: %s\n", t.c_str()); }
    void cancelWaits() override {}
};

bool readExact(int fd, std::uint8_t* buf, std::size_t n, int timeoutMs) {
    std::size_t got = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r > 0) got += static_cast<std::size_t>(r);
    }
    return true;
}

// Child: answers each SETUP frame with 28 bytes and measures the delay to the ACK; answers POLL
// with 00. Writes the latencies (microseconds) to `out`.
[[noreturn]] void peer(int master, int out, int exchanges) {
    std::vector<std::uint8_t> setup(28);
    for (std::size_t i = 0; i < setup.size(); ++i) setup[i] = static_cast<std::uint8_t>(i + 1);
    int done = 0;
    for (;;) {
        std::uint8_t f[2];
        if (!readExact(master, f, 1, 60000)) _exit(1);
        if (f[0] == 0x31 || f[0] == 0x33) {
            if (!readExact(master, f + 1, 1, 1000)) _exit(1);
        }
        if (f[0] == 0x31) {
            ::write(master, setup.data(), setup.size() - 1);
            ::tcdrain(master);
            ::write(master, &setup.back(), 1);
            const auto t0 = Clock::now();
            std::uint8_t ack = 0xEE;
            if (!readExact(master, &ack, 1, 1000) || ack != 0x00) _exit(2);
            const long us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
            ::write(out, &us, sizeof us);
            if (++done == exchanges) {
                // keep answering POLLs until killed
            }
        } else if (f[0] == 0x33) {
            const std::uint8_t ackOnly = 0x00;
            ::write(master, &ackOnly, 1);
        }
    }
}

double cpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int exchanges = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ::grantpt(master);
    ::unlockpt(master);
    termios tio{};
    ::tcgetattr(master, &tio);
    ::cfmakeraw(&tio);
    ::tcsetattr(master, TCSANOW, &tio);
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return 1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipeFds[0]);
        peer(master, pipeFds[1], exchanges);
    }
    ::close(pipeFds[1]);

    LinkData data;
    PortMap ports;
    ports.set(0, ::ptsname(master));
    ComLink link(data, ports);
    SlowWindow window;
    if (!link.openPort(true, 3, 9600)) {
        std::fprintf(stderr, "open failed: %s\n", link.lastError().c_str());
        return 1;
    }
    std::string error;
    link.startWorker(window, error);

    // 1. ACK latency with a slow window.
    window.delayMs = 20;
    std::vector<long> lat;
    const std::uint8_t setupFrame[2] = {0x31, 0x31};
    for (int i = 0; i < exchanges; ++i) {
        while (!data.submit(setupFrame, 2)) std::this_thread::sleep_for(std::chrono::microseconds(200));
        long us = 0;
        pollfd p{pipeFds[0], POLLIN, 0};
        if (::poll(&p, 1, 3000) <= 0 || ::read(pipeFds[0], &us, sizeof us) != sizeof us) {
            std::fprintf(stderr, "exchange %d lost\n", i);
            break;
        }
        lat.push_back(us);
        while (window.count.load() <= i) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::sort(lat.begin(), lat.end());
    if (!lat.empty()) {
        std::printf("ACK latency over %zu exchanges (handler 20 ms): median %.3f ms, p99 %.3f ms, max %.3f ms\n",
                    lat.size(), lat[lat.size() / 2] / 1000.0, lat[lat.size() * 99 / 100] / 1000.0,
                    lat.back() / 1000.0);
    }
    window.delayMs = 0;

    // 2a. Idle.
    double c0 = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double c1 = cpuSeconds();
    std::printf("idle %d s: link processor time %.4f s (%.3f %% of one core)\n", seconds, c1 - c0,
                100.0 * (c1 - c0) / seconds);

    // 2b. POLL every 20 ms.
    const std::uint8_t pollFrame[2] = {0x33, 0x33};
    const int before = window.count.load();
    c0 = cpuSeconds();
    auto next = Clock::now();
    const auto end = next + std::chrono::seconds(seconds);
    while (next < end) {
        data.submit(pollFrame, 2);
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
    }
    c1 = cpuSeconds();
    std::printf("POLL every 20 ms for %d s: %d answers, link processor time %.4f s (%.3f %% of one core)\n",
                seconds, window.count.load() - before, c1 - c0, 100.0 * (c1 - c0) / seconds);

    link.closePort();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return 0;
}
