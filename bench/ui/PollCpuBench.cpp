// SPDX-License-Identifier: GPL-3.0-or-later
// Processor time of polling the virtual validator every 20 ms, beside a floor measured in the same
// run: a bare loop in one thread doing the same exchanges on the same kind of port, with the port
// operations every exchange needs (the purge before a frame, the write and its drain, the wait for
// the answer and its read) and nothing else: no window, no recording. Then the controller core as the program
// runs it (window thread and link worker), with the exchange recorder the window's link always has, and with
// the bus monitor's rows kept up to date as an open monitor window does. Each phase polls an idle validator
// (bare ACKs) for the same time; the phases take turns over several rounds so that a change in the machine's
// load meets all of them.
//
//   poll_cpu_bench [seconds per phase, default 10] [rounds, default 3] [phases, default 0123]

#include "support/CoreLoop.h"
#include "support/QuietView.h"
#include "support/SimProcess.h"
#include "ui/core/BusMonitor.h"
#include "ui/core/MainWindowLogic.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#include <vector>

using namespace norvex;
using namespace std::chrono;

namespace {

double cpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

timespec plusNs(timespec t, long ns) {
    t.tv_nsec += ns;
    while (t.tv_nsec >= 1000000000) {
        t.tv_nsec -= 1000000000;
        ++t.tv_sec;
    }
    return t;
}

// The floor: POLL every 20 ms on an absolute grid, wait for the answer, read it.
double bareLoop(const std::string& path, int seconds, int& exchanges) {
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    const std::uint8_t poll[2] = {0x33, 0x33};
    std::uint8_t buf[64];
    timespec at{};
    ::clock_gettime(CLOCK_MONOTONIC, &at);
    const double c0 = cpuSeconds();
    exchanges = 0;
    for (int i = 0; i < seconds * 50; ++i) {
        at = plusNs(at, 20000000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        ::tcflush(fd, TCIOFLUSH);
        if (::write(fd, poll, 2) != 2) break;
        ::tcdrain(fd);
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) > 0 && ::read(fd, buf, sizeof buf) > 0) ++exchanges;
    }
    const double c1 = cpuSeconds();
    ::close(fd);
    return c1 - c0;
}

struct CorePhase {
    bool recorder = true;
    bool monitor = false;
};

double corePolling(const std::string& path, int seconds, const CorePhase& phase, int& exchanges) {
    test::QuietView view;
    link::PortMap ports;
    ports.set(0, path);
    ui::MainWindowLogic core(view, ports);
    const auto dir =
        std::filesystem::temp_directory_path() / ("norvex-pollcpu-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    core.setSettingsDirectory(dir.string());
    if (!phase.recorder) core.comLink().setRecorder(nullptr);
    test::CoreLoop loop(core);
    core.onInitDialog();
    core.controller().setPollPeriod(20);
    core.onStart(loop.bridge());
    if (!core.controller().started()) return -1;
    loop.runFor(milliseconds(1500)); // start-up sequence
    ui::BusMonitor monitor(core.busLog());
    const std::uint64_t before = core.busLog().taken();
    const double c0 = cpuSeconds();
    const auto end = steady_clock::now() + seconds * 1s;
    while (steady_clock::now() < end) {
        loop.runFor(milliseconds(100));
        // An open monitor window follows the log at every tick of its own timer (100 ms).
        if (phase.monitor) (void)monitor.update();
    }
    const double c1 = cpuSeconds();
    exchanges = static_cast<int>(core.busLog().taken() - before);
    core.onDestroy();
    std::filesystem::remove_all(dir);
    return c1 - c0;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 10;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const std::string phases = argc > 3 ? argv[3] : "0123";
    test::SimProcess sim;
    if (!sim.running()) {
        std::fprintf(stderr, "norvex-sim did not start\n");
        return 1;
    }
    struct Row {
        const char* what;
        double cpu = 0;
        int exchanges = 0;
    };
    std::vector<Row> rows = {{"floor: bare loop, same exchanges"},
                             {"core, link without recorder"},
                             {"core, link with recorder (the window's)"},
                             {"core, recorder and bus monitor rows"}};
    for (int r = 0; r < rounds; ++r) {
        for (char phase : phases) {
            int n = 0;
            const std::size_t i = static_cast<std::size_t>(phase - '0');
            if (i >= rows.size()) continue;
            rows[i].cpu += i == 0 ? bareLoop(sim.path(), seconds, n)
                                  : corePolling(sim.path(), seconds, {i >= 2, i == 3}, n);
            rows[i].exchanges += n;
        }
    }
    const double total = seconds * rounds;
    std::printf("POLL every 20 ms against an idle virtual validator, %d x %d s per phase:\n", rounds,
                seconds);
    for (const Row& row : rows)
        if (row.cpu > 0)
            std::printf("  %-42s %.3f %% of one core  %.2fx the floor\n", row.what, 100.0 * row.cpu / total,
                        row.cpu / rows[0].cpu);
    return 0;
}
