// SPDX-License-Identifier: GPL-3.0-or-later
// What a look for serial devices costs: PortDiscovery::scan() of this machine, against its floor
// in the same run, interleaved: reading the names in /dev and /sys/class/tty alone, without
// following a link or reading an attribute. The ports dialog scans once per change in /dev
// (plus once on opening), and the port selector's tooltip once each time it is shown.
//
//   build/bench/port_scan_bench [ROUNDS]     (default 300)

#include "link/PortDiscovery.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double micros(Clock::time_point t0) {
    return std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
}

void report(const char* what, std::vector<double> v) {
    std::sort(v.begin(), v.end());
    std::printf("%-34s median %8.1f us   p90 %8.1f us   max %8.1f us\n", what, v[v.size() / 2],
                v[v.size() * 9 / 10], v.back());
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const norvex::link::PortDiscovery discovery;
    std::vector<double> scans, floors;
    std::size_t found = 0, names = 0;
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        std::size_t n = 0;
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator("/dev", ec))
            n += e.path().filename().native().size() > 0;
        for (const auto& e : std::filesystem::directory_iterator("/sys/class/tty", ec))
            n += e.path().filename().native().size() > 0;
        floors.push_back(micros(t0));
        names = n;

        t0 = Clock::now();
        found = discovery.scan().size();
        scans.push_back(micros(t0));
    }
    std::printf("%d rounds; %zu names in /dev and /sys/class/tty; %zu serial devices found\n", rounds, names,
                found);
    report("floor (names in /dev, /sys/class/tty)", floors);
    report("PortDiscovery::scan()", scans);
    return 0;
}
