// SPDX-License-Identifier: GPL-3.0-or-later
// Listening to a saturated bus: every byte back to back at 9600 baud (or, given a cadence, a
// command that often, faster than the wire could carry it) on two pairs of pseudo-terminals,
// played by one writer thread. On one pair the whole listening path runs: the
// tap's thread (read, frame, merge, pair) and the window's share (each exchange decoded into the
// bus log, which keeps its 50 000). On the other pair, the floor: a bare loop that only reads
// both lines. Reported: the CPU share of one core each takes, side by side, and the resident
// memory over the run (flat once the bus log holds its 50 000).
//
// Usage: listen_bench [seconds, default 600] [cadence in µs, e.g. 2000; default: the wire's pace]

#include "link/BusTap.h"
#include "ui/core/BusLog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace norvex;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) std::exit(1);
        slave = ::ptsname(master);
        // Raw, so the line discipline passes the bytes on as they are.
        const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        ::close(fd);
    }
    ~Pty() { ::close(master); }
};

double threadCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double processCpuSeconds() {
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long residentKb() {
    long pages = 0, resident = 0;
    if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

void sleepUntil(Clock::time_point t) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
    timespec ts{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

void put(int fd, const Bytes& b) {
    [[maybe_unused]] const ssize_t w = ::write(fd, b.data(), b.size());
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 600;
    const long cadenceUs = argc > 2 ? std::max(0L, std::atol(argv[2])) : 0;
    Pty fullController, fullPeripherals, bareController, barePeripherals;

    link::BusTap tap;
    if (!tap.open(fullController.slave, fullPeripherals.slave)) {
        std::printf("the tap did not open\n");
        return 1;
    }
    const int bareFds[2] = {::open(bareController.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK),
                            ::open(barePeripherals.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK)};

    std::atomic<bool> stop{false};
    std::atomic<long> bareBytes{0};
    double bareCpu = 0, writerCpu = 0;

    // The floor: read both lines as they come, nothing else.
    std::thread bare([&] {
        pollfd fds[2] = {{bareFds[0], POLLIN, 0}, {bareFds[1], POLLIN, 0}};
        std::uint8_t buf[256];
        while (!stop.load()) {
            if (::poll(fds, 2, 100) <= 0) continue;
            for (const pollfd& p : fds) {
                if (!(p.revents & POLLIN)) continue;
                for (ssize_t n; (n = ::read(p.fd, buf, sizeof buf)) > 0;)
                    bareBytes += n;
            }
        }
        bareCpu = threadCpuSeconds();
    });

    // The machine: each byte written when it has arrived whole at 9600 baud (11 bits, 1146 µs),
    // a gap of 300 µs where the line changes hands. Back to back like that the bus is saturated:
    // a command every 2 ms does not fit on it (a command and its answer are three characters,
    // 3.4 ms, at the least). With a cadence given, each command starts that often instead, its
    // parts written whole, faster than the wire could carry them. Four kinds in turn: POLLs
    // answered by ACK, a bill, a coin.
    long commands = 0;
    std::thread writer([&] {
        const Bytes kinds[4][3] = {{{0x33, 0x33}, {0x00}, {}},
                                   {{0x0B, 0x0B}, {0x00}, {}},
                                   {{0x33, 0x33}, {0x81, 0x81}, {0x00}},
                                   {{0x0B, 0x0B}, {0x52, 0x07, 0x59}, {0x00}}};
        const int fds[2][2] = {{fullController.master, bareController.master},
                               {fullPeripherals.master, barePeripherals.master}};
        const auto character = std::chrono::microseconds(1146), turn = std::chrono::microseconds(300);
        auto at = Clock::now();
        const auto end = at + std::chrono::seconds(seconds);
        for (long i = 0; at < end; ++i) {
            const auto& k = kinds[i % 4];
            const auto start = at;
            for (int part = 0; part < 3 && !k[part].empty(); ++part) {
                const int line = part == 1 ? 1 : 0;
                if (cadenceUs > 0) {
                    sleepUntil(start + std::chrono::microseconds(cadenceUs * part / 4));
                    put(fds[line][0], k[part]);
                    put(fds[line][1], k[part]);
                    continue;
                }
                for (std::uint8_t b : k[part]) {
                    at += character;
                    sleepUntil(at);
                    put(fds[line][0], {b});
                    put(fds[line][1], {b});
                }
                at += turn;
            }
            if (cadenceUs > 0) at = start + std::chrono::microseconds(cadenceUs);
            ++commands;
        }
        writerCpu = threadCpuSeconds();
    });

    // The window's share: every 100 ms the exchanges heard are decoded into the bus log.
    ui::BusLog log;
    std::vector<link::HeardExchange> fresh;
    std::uint64_t heard = 0, faulty = 0;
    const auto start = Clock::now();
    const double cpu0 = processCpuSeconds();
    long rssFirst = 0, rssMax = 0;
    if (cadenceUs > 0)
        std::printf("listening to a command every %ld us for %d s (faster than 9600 baud)\n", cadenceUs,
                    seconds);
    else
        std::printf("listening to a saturated bus (every byte back to back at 9600 baud) for %d s\n",
                    seconds);
    for (int tick = 1; Clock::now() - start < std::chrono::seconds(seconds); ++tick) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        fresh.clear();
        tap.drain(fresh);
        for (const auto& h : fresh) {
            log.addHeard(h);
            faulty += h.faults != 0;
        }
        heard += fresh.size();
        const long rss = residentKb();
        rssMax = std::max(rssMax, rss);
        if (tick % std::max(1, seconds) == 0) {
            if (rssFirst == 0) rssFirst = rss;
            std::printf("  %4d s: %lu exchanges heard, %lu kept, resident %ld kB\n", tick / 10,
                        static_cast<unsigned long>(heard), static_cast<unsigned long>(log.kept().size()),
                        rss);
        }
    }
    writer.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop = true;
    bare.join();
    tap.close();
    fresh.clear();
    tap.drain(fresh);
    for (const auto& h : fresh) {
        log.addHeard(h);
        faulty += h.faults != 0;
    }
    heard += fresh.size();
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double listening = processCpuSeconds() - cpu0 - bareCpu - writerCpu;
    std::printf("commands written %ld, heard %lu (%lu with a fault), lost %lu, bare loop read %ld bytes\n",
                commands, static_cast<unsigned long>(heard), static_cast<unsigned long>(faulty),
                static_cast<unsigned long>(tap.lost()), bareBytes.load());
    std::printf("  CPU, share of one core over %.0f s:\n", wall);
    std::printf("    listening (tap thread + decoding into the bus log)   %6.2f %%\n",
                100.0 * listening / wall);
    std::printf("    floor: a bare loop reading both lines                 %6.2f %%\n",
                100.0 * bareCpu / wall);
    std::printf("  resident memory: %ld kB at the first report, %ld kB at the end, %ld kB at most\n",
                rssFirst, residentKb(), rssMax);
    ::close(bareFds[0]);
    ::close(bareFds[1]);
    return 0;
}
