// SPDX-License-Identifier: GPL-3.0-or-later
// Link worker figures over pseudo-terminals:
//  1. ACK latency of short answers (POLL) at 9600-baud pacing: from the peer writing the last
//     byte of the answer to the ACK reaching the peer, while the window's handler takes 20 ms
//     per notification; with the checksum confirmed by the quiet line, and with the answers in
//     the marked form of a driver that reports errors per byte (framed by the mode bit). Beside
//     them, in the same run and in interleaved blocks, the floor: a bare pseudo-terminal round
//     trip between the same two processes, a one-byte ping answered by a real-time thread.
//     Also the gaps between the bytes of paced answers as a real-time reader sees them, which the
//     quiet window is chosen from.
//  2. ACK latency of a fixed-length record (SETUP, 28 bytes written at once).
//  3. The processor time of the link (worker thread, plus the idle main thread) while idle for
//     10 s and while exchanging a POLL every 20 ms for 10 s.
// The peer runs in a child process so that its own work is not counted, at the normal priority;
// with "rt" it asks for a real-time one for the answers (not for the floor's pings), as the
// virtual validator does, to stand in for a validator whose bytes never pause.
//
// With "record" every link records its exchanges (as the window's links do), so that the ACK
// figures can be compared with and without the recording.
//
// Usage: link_bench [answers per mode, default 1200] [seconds, default 10] [rt] [record]

#include "link/ComLink.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace norvex::link;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr long CHARACTER_NS = 1146000; // 11 bits at 9600 baud
constexpr int BLOCK = 100;             // answers per block; the modes take turns block by block

// Status answers as a validator gives them: single events, bills stacked together (a status
// byte equal to the sum before it), checksums of 00 and FF, up to six status bytes.
const std::vector<Bytes>& answers() {
    static const std::vector<Bytes> list = {
        {0x06, 0x06},       {0x80, 0x80, 0x00},
        {0x03, 0x03, 0x06}, {0x90, 0x03, 0x93},
        {0xC0, 0x40, 0x00}, {0xF5, 0x0A, 0xFF},
        {0x81, 0x81},       {0x0B, 0x0B},
        {0x82, 0x82, 0x04}, {0x09, 0x01, 0x81, 0x82, 0x06, 0x0B, 0x1E},
    };
    return list;
}

// The window: its handler takes `delayMs` and it checks that every POLL answer arrived whole.
class SlowWindow : public LinkNotifier {
public:
    explicit SlowWindow(LinkData& d) : d_(d) {}
    std::atomic<int> delayMs{0};
    std::atomic<int> count{0};
    std::atomic<int> wrong{0};
    std::mutex m;
    Bytes expected; // the POLL answer under way
    bool notify(std::uint8_t code) override {
        if (code == RESP_POLL) {
            std::lock_guard<std::mutex> lk(m);
            const ShortAnswer answer = d_.shortAnswer();
            if (!expected.empty() && (answer.length != expected.size() ||
                                      !std::equal(expected.begin(), expected.end(), answer.bytes.begin())))
                ++wrong;
        }
        if (delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(delayMs.load()));
        ++count;
        return true;
    }
    void linkFailed(const LinkFault& fault) override {
        std::fprintf(stderr, "link failed: %s\n", fault.detail.c_str());
    }
    void cancelWaits() override {}

private:
    LinkData& d_;
};

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        ::grantpt(master);
        ::unlockpt(master);
        slave = ::ptsname(master);
        termios tio{};
        ::tcgetattr(master, &tio);
        ::cfmakeraw(&tio);
        ::tcsetattr(master, TCSANOW, &tio);
    }
};

// False on time-out and as soon as the other side is gone (end of file, hang-up, EIO): a
// closed terminal stays readable, so waiting on it would spin until the time-out.
bool readExact(int fd, std::uint8_t* buf, std::size_t n, int timeoutMs) {
    std::size_t got = 0;
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (left <= 0) return false;
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        if (!(p.revents & POLLIN)) return false; // POLLHUP, POLLERR or POLLNVAL alone
        const ssize_t r = ::read(fd, buf + got, n - got);
        if (r > 0) {
            got += static_cast<std::size_t>(r);
        } else if (r == 0 || (errno != EINTR && errno != EAGAIN)) {
            return false;
        }
    }
    return true;
}

void writeAll(int fd, const std::uint8_t* b, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, b, n);
        if (w > 0) {
            b += w;
            n -= static_cast<std::size_t>(w);
        } else if (w < 0 && errno != EINTR && errno != EAGAIN) {
            return;
        }
    }
}

long microsSince(Clock::time_point t0) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count());
}

void sleepUntil(const timespec& t) {
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &t, nullptr) == EINTR) {
    }
}

timespec plusNs(timespec t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000) {
        t.tv_nsec -= 1000000000;
        ++t.tv_sec;
    }
    return t;
}

// What a driver that flags errors per byte delivers under INPCK | PARMRK: every byte but the
// last (mode bit 0) as FF 00 x, the last one as itself, doubled when it is FF.
Bytes markedForm(const Bytes& answer, std::size_t i) {
    if (i + 1 < answer.size()) return {0xFF, 0x00, answer[i]};
    if (answer[i] == 0xFF) return {0xFF, 0xFF};
    return {answer[i]};
}

// Child: takes a command from `control` ('F', 'Q', 'M', 'S' and a count), plays it and writes one
// latency per exchange (microseconds, -1 for a missing reply) to `out`.
[[noreturn]] void peer(int control, int out, const Pty& floorPty, const Pty& quietPty, const Pty& markedPty,
                       const Pty& setupPty, const Pty& gapPty, bool rtAnswers) {
    std::size_t next = 0; // rotates through the answers, in step with the parent
    auto priority = [rtAnswers](bool realTime) {
        if (!rtAnswers) return;
        sched_param sp{};
        sp.sched_priority = realTime ? 5 : 0;
        if (::sched_setscheduler(0, realTime ? SCHED_FIFO : SCHED_OTHER, &sp) != 0)
            std::perror("peer priority");
    };
    for (;;) {
        char cmd = 0;
        int n = 0;
        if (::read(control, &cmd, 1) != 1 || ::read(control, &n, sizeof n) != sizeof n) _exit(0);
        priority(cmd != 'F');
        if (cmd == 'M') {
            // EXTPROC: the line discipline passes the marked form on as it is written.
            termios t{};
            ::tcgetattr(markedPty.master, &t);
            t.c_lflag |= EXTPROC;
            ::tcsetattr(markedPty.master, TCSANOW, &t);
        }
        for (int i = 0; i < n; ++i) {
            long us = -1;
            if (cmd == 'G') {
                // Seventeen bytes paced one character apart, then a pause.
                timespec at{};
                ::clock_gettime(CLOCK_MONOTONIC, &at);
                for (std::uint8_t k = 0; k < 17; ++k) {
                    sleepUntil(at);
                    const std::uint8_t b = static_cast<std::uint8_t>(0x10 + k);
                    writeAll(gapPty.master, &b, 1);
                    at = plusNs(at, CHARACTER_NS);
                }
                ::usleep(5000);
                us = 0;
            } else if (cmd == 'F') {
                const std::uint8_t ping = 0x5A;
                std::uint8_t pong = 0;
                ::usleep(2000);
                writeAll(floorPty.master, &ping, 1);
                const auto t0 = Clock::now();
                if (readExact(floorPty.master, &pong, 1, 1000)) us = microsSince(t0);
            } else if (cmd == 'Q' || cmd == 'M') {
                const int master = cmd == 'Q' ? quietPty.master : markedPty.master;
                std::uint8_t frame[2];
                if (!readExact(master, frame, 2, 5000)) _exit(1);
                const Bytes& answer = answers()[next++ % answers().size()];
                // One byte per character time, from absolute deadlines.
                timespec at{};
                ::clock_gettime(CLOCK_MONOTONIC, &at);
                at = plusNs(at, 200000);
                for (std::size_t k = 0; k < answer.size(); ++k) {
                    sleepUntil(at);
                    const Bytes b = cmd == 'Q' ? Bytes{answer[k]} : markedForm(answer, k);
                    writeAll(master, b.data(), b.size());
                    at = plusNs(at, CHARACTER_NS);
                }
                const auto t0 = Clock::now();
                std::uint8_t ack = 0xEE;
                if (readExact(master, &ack, 1, 1000) && ack == 0x00) us = microsSince(t0);
            } else if (cmd == 'S') {
                Bytes setup(28);
                for (std::size_t k = 0; k + 1 < setup.size(); ++k) {
                    setup[k] = static_cast<std::uint8_t>(k + 1);
                    setup.back() = static_cast<std::uint8_t>(setup.back() + setup[k]);
                }
                std::uint8_t frame[2];
                if (!readExact(setupPty.master, frame, 2, 5000)) _exit(1);
                writeAll(setupPty.master, setup.data(), setup.size() - 1);
                ::tcdrain(setupPty.master);
                writeAll(setupPty.master, &setup.back(), 1);
                const auto t0 = Clock::now();
                std::uint8_t ack = 0xEE;
                if (readExact(setupPty.master, &ack, 1, 1000) && ack == 0x00) us = microsSince(t0);
            } else if (cmd == 'P') {
                // POLL every 20 ms: answered with a bare ACK until the parent stops; a failed
                // read ends the command.
                std::uint8_t frame[2];
                if (!readExact(setupPty.master, frame, 2, 5000)) break;
                const std::uint8_t ackOnly = 0x00;
                writeAll(setupPty.master, &ackOnly, 1);
                continue;
            }
            ::write(out, &us, sizeof us);
        }
    }
}

double cpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

struct Figures {
    std::vector<long> us;
    int missing = 0;
    void add(long v) {
        if (v < 0)
            ++missing;
        else
            us.push_back(v);
    }
    double at(double q) {
        std::sort(us.begin(), us.end());
        if (us.empty()) return 0;
        const auto i = std::min(us.size() - 1, static_cast<std::size_t>(q * static_cast<double>(us.size())));
        return static_cast<double>(us[i]) / 1000.0;
    }
    // The share of the replies that took longer than MDB's 5 ms, in percent.
    double over5ms() const {
        if (us.empty()) return 0;
        const auto n = std::count_if(us.begin(), us.end(), [](long v) { return v > 5000; });
        return 100.0 * static_cast<double>(n) / static_cast<double>(us.size());
    }
    void print(const char* what) {
        std::printf("  %-44s n=%zu  median %.3f ms  p99 %.3f ms  max %.3f ms  over 5 ms %.2f %%%s\n", what,
                    us.size(), at(0.5), at(0.99),
                    us.empty() ? 0.0 : static_cast<double>(*std::max_element(us.begin(), us.end())) / 1000.0,
                    over5ms(), missing ? "  (replies missing!)" : "");
        if (missing) std::printf("    %d without a reply\n", missing);
    }
};

struct Side {
    int control = -1;
    int results = -1;
    void command(char c, int n) {
        ::write(control, &c, 1);
        ::write(control, &n, sizeof n);
    }
    long result() {
        long us = -1;
        pollfd p{results, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0 || ::read(results, &us, sizeof us) != sizeof us) return -1;
        return us;
    }
};

// Submits `n` POLL frames one after the other, each once the window has handled the last answer.
void pollBlock(LinkData& data, SlowWindow& window, Side& side, int n, std::size_t& next, Figures* figures) {
    const std::uint8_t pollFrame[2] = {0x33, 0x33};
    for (int i = 0; i < n; ++i) {
        {
            std::lock_guard<std::mutex> lk(window.m);
            window.expected = answers()[next++ % answers().size()];
        }
        const int before = window.count.load();
        while (!data.submit(pollFrame, 2))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        const long us = side.result();
        if (figures) figures->add(us);
        const auto until = Clock::now() + std::chrono::seconds(2);
        while (window.count.load() <= before && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

} // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int perMode = argc > 1 ? std::max(BLOCK, std::atoi(argv[1])) : 1200;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 10;
    bool rtPeer = false, record = false;
    for (int i = 3; i < argc; ++i) {
        rtPeer = rtPeer || std::strcmp(argv[i], "rt") == 0;
        record = record || std::strcmp(argv[i], "record") == 0;
    }
    Pty floorPty, quietPty, markedPty, setupPty, gapPty;
    int control[2], results[2];
    if (::pipe(control) != 0 || ::pipe(results) != 0) return 1;
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        // The peer may run at a real-time priority: it must not outlive a killed parent.
        if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || ::getppid() != parent) _exit(1);
        ::close(control[1]);
        ::close(results[0]);
        peer(control[0], results[1], floorPty, quietPty, markedPty, setupPty, gapPty, rtPeer);
    }
    ::close(control[0]);
    ::close(results[1]);
    Side side{control[1], results[0]};

    // The gaps inside paced answers, read by a real-time thread.
    std::atomic<bool> echoing{true};
    Figures gapFig;
    std::mutex gapLock;
    const int gapSlave = ::open(gapPty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    {
        termios t{};
        ::tcgetattr(gapSlave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(gapSlave, TCSANOW, &t);
    }
    std::thread gapReader([&] {
        sched_param sp{};
        sp.sched_priority = 10;
        (void)::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &sp);
        Clock::time_point last{};
        while (echoing) {
            pollfd p{gapSlave, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t b[32];
            const ssize_t n = ::read(gapSlave, b, sizeof b);
            const auto now = Clock::now();
            std::lock_guard<std::mutex> lk(gapLock);
            for (ssize_t i = 0; i < n; ++i) {
                if (b[i] != 0x10)
                    gapFig.add(
                        i == 0
                            ? static_cast<long>(
                                  std::chrono::duration_cast<std::chrono::microseconds>(now - last).count())
                            : 0);
            }
            if (n > 0) last = now;
        }
    });

    // The floor's echo: a real-time thread on the slave side, as the link worker is.
    const int floorSlave = ::open(floorPty.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    {
        termios t{};
        ::tcgetattr(floorSlave, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(floorSlave, TCSANOW, &t);
    }
    std::thread echo([&] {
        sched_param sp{};
        sp.sched_priority = 10;
        const bool rt = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &sp) == 0;
        if (!rt) std::fprintf(stderr, "note: no real-time priority for the floor's echo\n");
        while (echoing) {
            pollfd p{floorSlave, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0) continue;
            std::uint8_t b[16];
            const ssize_t n = ::read(floorSlave, b, sizeof b);
            if (n > 0) writeAll(floorSlave, b, static_cast<std::size_t>(n));
        }
    });

    LinkData quietData, markedData, setupData;
    PortMap quietPorts, markedPorts, setupPorts;
    quietPorts.set(0, quietPty.slave);
    markedPorts.set(0, markedPty.slave);
    setupPorts.set(0, setupPty.slave);
    ComLink quiet(quietData, quietPorts), marked(markedData, markedPorts), setupLink(setupData, setupPorts);
    SlowWindow quietWindow(quietData), markedWindow(markedData), setupWindow(setupData);
    // Nobody takes the records here: the rings wrap, which costs the worker what taking them
    // would.
    ExchangeRecorder quietRecords, markedRecords, setupRecords;
    if (record) {
        quiet.setRecorder(&quietRecords);
        marked.setRecorder(&markedRecords);
        setupLink.setRecorder(&setupRecords);
        std::printf("Every exchange recorded.\n");
    }
    for (auto [link, window] : {std::pair<ComLink*, SlowWindow*>{&quiet, &quietWindow},
                                {&marked, &markedWindow},
                                {&setupLink, &setupWindow}}) {
        LinkResult ready = link->open({.baud = 9600, .parity = Parity::Mark});
        if (ready) ready = link->startWorker(*window);
        if (!ready) {
            std::fprintf(stderr, "open failed: %s\n", ready.fault().detail.c_str());
            return 1;
        }
        window->delayMs = 20;
    }

    // 1. Short answers, the three measurements taking turns block by block. A few answers first
    //    let the marked port show that its marks agree.
    std::size_t nextQuiet = 0, nextMarked = 0;
    side.command('Q', 10);
    pollBlock(quietData, quietWindow, side, 10, nextQuiet, nullptr);
    side.command('M', 10);
    pollBlock(markedData, markedWindow, side, 10, nextMarked, nullptr);
    Figures floorFig, quietFig, markedFig;
    for (int done = 0; done < perMode; done += BLOCK) {
        side.command('G', BLOCK / 4);
        for (int i = 0; i < BLOCK / 4; ++i)
            side.result();
        side.command('F', BLOCK);
        for (int i = 0; i < BLOCK; ++i)
            floorFig.add(side.result());
        side.command('Q', BLOCK);
        pollBlock(quietData, quietWindow, side, BLOCK, nextQuiet, &quietFig);
        side.command('M', BLOCK);
        pollBlock(markedData, markedWindow, side, BLOCK, nextMarked, &markedFig);
    }
    std::printf(
        "Short answers at 9600-baud pacing, window handler 20 ms, peer at %s priority, measured in the "
        "same run:\n",
        rtPeer ? "real-time" : "normal");
    floorFig.print("floor: bare pty round trip (real-time echo)");
    std::printf("  the quiet-line port's window after the run: %.3f ms; its link: %s\n",
                quiet.quietWindowUs() / 1000.0, quiet.workerPriorityText().c_str());
    quietFig.print("ACK latency, checksum + quiet line");
    markedFig.print("ACK latency, marked form (mode bit)");
    // An answer framed wrongly on the quiet line is one whose bytes the peer (an ordinary process)
    // wrote more than the quiet window apart after a byte equal to the sum before it.
    std::printf("  framing: quiet-line port %s, marked port %s; answers framed wrongly: %d and %d\n",
                quiet.framing() == Framing::QuietLine ? "quiet line" : "other",
                marked.framing() == Framing::ModeBit ? "mode bit" : "NOT mode bit", quietWindow.wrong.load(),
                markedWindow.wrong.load());
    const double floorP99 = floorFig.at(0.99);
    std::printf(
        "  over 5 ms: quiet line %.2f %%, marked %.2f %%, floor %.2f %% (aim: no more than the floor's "
        "+ 0.2 points: %s, %s)\n",
        quietFig.over5ms(), markedFig.over5ms(), floorFig.over5ms(),
        quietFig.over5ms() <= floorFig.over5ms() + 0.2 ? "met" : "MISSED",
        markedFig.over5ms() <= floorFig.over5ms() + 0.2 ? "met" : "MISSED");
    std::printf(
        "  aims: quiet-line p99 %.3f <= 3 ms + floor p99 %.3f = %.3f: %s; marked p99 %.3f <= floor p99: %s\n",
        quietFig.at(0.99), floorP99, 3.0 + floorP99, quietFig.at(0.99) <= 3.0 + floorP99 ? "met" : "MISSED",
        markedFig.at(0.99), markedFig.at(0.99) <= floorP99 ? "met" : "MISSED");
    {
        std::lock_guard<std::mutex> lk(gapLock);
        long over = 0;
        for (long g : gapFig.us)
            over += g > 3000;
        std::printf("Gaps between the bytes of answers paced 1.146 ms apart, at a real-time reader:\n");
        gapFig.print("gap");
        std::printf("    p99.9 %.3f ms; above the 3 ms quiet window: %ld of %zu\n", gapFig.at(0.999), over,
                    gapFig.us.size());
    }
    echoing = false;
    echo.join();
    gapReader.join();
    ::close(floorSlave);
    ::close(gapSlave);
    quiet.closePort();
    marked.closePort();

    // 2. A fixed-length record.
    Figures setupFig;
    const std::uint8_t setupFrame[2] = {0x31, 0x31};
    side.command('S', perMode);
    for (int i = 0; i < perMode; ++i) {
        const int before = setupWindow.count.load();
        while (!setupData.submit(setupFrame, 2))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        setupFig.add(side.result());
        while (setupWindow.count.load() <= before)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    std::printf("Fixed-length record (SETUP, 28 bytes), window handler 20 ms:\n");
    setupFig.print("ACK latency");
    setupWindow.delayMs = 0;

    // 3a. Idle.
    double c0 = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    double c1 = cpuSeconds();
    std::printf("idle %d s: link processor time %.4f s (%.3f %% of one core)\n", seconds, c1 - c0,
                100.0 * (c1 - c0) / seconds);

    // 3b. POLL every 20 ms.
    side.command('P', 1 << 30);
    const std::uint8_t pollFrame[2] = {0x33, 0x33};
    const int before = setupWindow.count.load();
    c0 = cpuSeconds();
    auto next = Clock::now();
    const auto end = next + std::chrono::seconds(seconds);
    while (next < end) {
        setupData.submit(pollFrame, 2);
        next += std::chrono::milliseconds(20);
        std::this_thread::sleep_until(next);
    }
    c1 = cpuSeconds();
    std::printf("POLL every 20 ms for %d s: %d answers, link processor time %.4f s (%.3f %% of one core)\n",
                seconds, setupWindow.count.load() - before, c1 - c0, 100.0 * (c1 - c0) / seconds);

    setupLink.closePort();
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return 0;
}
