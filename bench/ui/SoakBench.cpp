// SPDX-License-Identifier: GPL-3.0-or-later
// Soak: the controller core polls the virtual validator every 20 ms for a long time (an hour
// by default), a bill is inserted every few seconds and the traffic is recorded. At the end:
// every bill appears exactly once in the event stream and in the data file, memory stays flat,
// and the processor time of the whole program (window thread and link worker) is small.
//
//   soak_bench [seconds] [bill interval ms]

#include "support/CoreLoop.h"
#include "support/QuietView.h"
#include "support/SimProcess.h"
#include "ui/core/MainWindowLogic.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

using namespace norvex;
using namespace std::chrono;

namespace {

class Counter : public control::ControllerObserver {
public:
    std::map<int, int> stacked; // bill type -> stacked events
    int events = 0;
    void eventAdded(std::uint32_t, std::uint8_t code, const std::string&) override {
        ++events;
        if ((code & 0xF0) == 0x80) ++stacked[code & 0x0F];
    }
    void commandAdded(std::uint32_t, std::uint8_t, const std::string&) override {}
    void setupReceived() override {}
    void identificationReceived() override {}
};

long rssKb() {
    std::ifstream in("/proc/self/status");
    std::string key;
    long value = 0;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> value;
            return value;
        }
        in.ignore(256, '\n');
    }
    return 0;
}

double cpuSeconds() {
    rusage ru{};
    ::getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 3600;
    const int billEveryMs = argc > 2 ? std::atoi(argv[2]) : 3000;
    const auto dir = std::filesystem::temp_directory_path() / ("norvex-soak-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string dataFile = (dir / "MDB_DATA.TXT").string();

    test::SimProcess sim({}, (dir / "sim.log").string());
    if (!sim.running()) {
        std::fprintf(stderr, "norvex-sim did not start\n");
        return 1;
    }
    test::QuietView view;
    link::PortMap ports;
    ports.set(0, sim.path());
    ui::MainWindowLogic core(view, ports);
    core.setSettingsDirectory(dir.string());
    Counter counter;
    core.controller().setObserver(&counter);
    test::CoreLoop loop(core);
    core.onInitDialog();
    core.controller().setPollPeriod(20);
    view.savePath = dataFile;
    core.optionsCommand();
    core.onOptionsDataSaving(ui::DataSaving::ToFile);
    core.onOptionsBrowse();
    core.onOptionsOk(control::EscrowOption::AutoStack);
    core.onStart(loop.bridge());
    if (!core.controller().started()) return 1;
    loop.runFor(milliseconds(2000)); // start-up sequence

    const long rss0 = rssKb();
    const double cpu0 = cpuSeconds();
    const auto t0 = steady_clock::now();
    std::map<int, int> inserted;
    int n = 0;
    long rssMid = 0;
    while (steady_clock::now() - t0 < seconds * 1s) {
        const int type = n % 7;
        if (sim.command("insert " + std::to_string(type) + " noescrow") == "ok") ++inserted[type];
        ++n;
        loop.runFor(milliseconds(billEveryMs));
        if (steady_clock::now() - t0 >= seconds * 500ms && rssMid == 0) rssMid = rssKb();
    }
    loop.runFor(milliseconds(500));
    // Answers the validator sent again because it did not see the acknowledge in time, and those
    // the link recognised (no event given; or, never acknowledged before, taken once now).
    core.busLog().takeNew();
    long recognised = 0;
    for (const auto& k : core.busLog().kept())
        if (k.record.resend || k.record.repeat) ++recognised;
    long resent = 0;
    {
        std::ifstream simLog(dir / "sim.log");
        for (std::string l; std::getline(simLog, l);)
            if (l.find("\"event\":\"repeat\"") != std::string::npos) ++resent;
    }
    const double cpu1 = cpuSeconds();
    const long rss1 = rssKb();
    const double elapsed = duration<double>(steady_clock::now() - t0).count();
    core.onDestroy();

    // Stacked bills in the data file: answers carrying 1000tttt bytes.
    std::map<int, int> recorded;
    std::ifstream in(dataFile);
    std::string line;
    long lines = 0;
    while (std::getline(in, line)) {
        ++lines;
        const auto val = line.find("val:");
        if (val == std::string::npos || line.find("vmc: 33") == std::string::npos) continue;
        // status bytes are every field but the last (the checksum)
        std::vector<int> bytes;
        for (std::size_t i = val + 4; i + 3 <= line.size(); i += 3) {
            if (line[i] != ' ') break;
            bytes.push_back(std::stoi(line.substr(i + 1, 2), nullptr, 16));
        }
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
            if ((bytes[i] & 0xF0) == 0x80) ++recorded[bytes[i] & 0x0F];
    }

    bool exact = true;
    int total = 0;
    for (const auto& [type, count] : inserted) {
        total += count;
        const bool ok = counter.stacked[type] == count && recorded[type] == count;
        exact = exact && ok;
        std::printf("type %d: inserted %d, events %d, data file %d%s\n", type, count, counter.stacked[type],
                    recorded[type], ok ? "" : "  <-- MISMATCH");
    }
    std::printf("soak %.0f s at 20 ms: %d bills, %ld data-file lines, every bill exactly once: %s\n", elapsed,
                total, lines, exact ? "yes" : "NO");
    std::printf("answers the validator sent again: %ld; recognised by the link: %ld\n", resent, recognised);
    std::printf("resident memory: %ld kB at start, %ld kB half-way, %ld kB at the end\n", rss0, rssMid, rss1);
    std::printf("processor time of the program: %.2f s = %.3f %% of one core\n", cpu1 - cpu0,
                100.0 * (cpu1 - cpu0) / elapsed);
    if (exact)
        std::filesystem::remove_all(dir);
    else
        std::printf("kept %s\n", dir.c_str());
    return exact ? 0 : 2;
}
