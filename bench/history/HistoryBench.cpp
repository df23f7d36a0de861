// SPDX-License-Identifier: GPL-3.0-or-later
// Service history figures, each beside a floor measured in the same run:
//  - storing one complete reading (every record, about 330 decoded values) in SQLite, beside a
//    bare SQLite transaction that writes the same number of bytes as one row; the same on
//    PostgreSQL when NORVEX_TEST_PG_URL names a server;
//  - opening the history of a unit with 1000 visits in the window and drawing its charts
//    (offscreen), beside the bare query of the values the charts need;
//  - `norvex --history-csv` of that unit (time and peak memory of the whole program), beside the
//    sqlite3 shell printing the same rows as CSV. NORVEX_BENCH_PROGRAM names another norvex
//    to time (an earlier build, say).

#include "history/HistoryFixture.h"
#include "history/SqlDialect.h"
#include "history/Trends.h"
#include "ui/qt/Application.h"
#include "ui/qt/HistoryWindow.h"

#include <QApplication>
#include <QScrollArea>
#include <QTabWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace norvex;
using namespace norvex::history;
using namespace norvex::history::testing;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double median, p90;
};

Figures measure(int runs, const std::function<void()>& body) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        body();
        t.push_back(ms(Clock::now() - start));
    }
    std::sort(t.begin(), t.end());
    return {t[t.size() / 2], t[t.size() * 9 / 10]};
}

void print(const char* what, const Figures& f, const Figures& floor) {
    std::printf("%-58s median %8.3f ms  p90 %8.3f ms   floor median %8.3f ms  p90 %8.3f ms\n", what, f.median,
                f.p90, floor.median, floor.p90);
}

std::size_t storedBytes(const Reading& r) {
    std::size_t n = r.ident.size() + r.setup.size() + r.statistics.size() + r.sensors.size() +
                    r.optics.size() + r.video.size() + 64;
    for (const auto& [name, v] : decodedValues(r))
        n += name.size() + sizeof v + r.id.size();
    return n;
}

void storeFigures(const std::string& url, const char* label, Database& bare) {
    Fault fault;
    auto store = openStore(url, fault);
    if (!store) {
        std::printf("%s: cannot open: %s\n", label, fault.detail.c_str());
        return;
    }
    int seed = 0;
    const Figures put = measure(200, [&] {
        const Reading r = knownReading("BENCH", 1'790'000'000 + seed, seed);
        ++seed;
        if (store->put(r, fault) != PutResult::Stored) std::printf("put failed: %s\n", fault.detail.c_str());
    });
    const std::size_t bytes = storedBytes(knownReading("BENCH", 0, 1));
    Fault f;
    (void)bare.exec("CREATE TABLE IF NOT EXISTS bare (id INTEGER, payload BLOB)", f);
    const Blob payload{std::vector<std::uint8_t>(bytes, 0x5A)};
    std::int64_t id = 0;
    const Figures floor = measure(200, [&] {
        (void)bare.exec(beginSql(bare.dialect()), f);
        (void)bare.exec("INSERT INTO bare (id, payload) VALUES ($1, $2)", {id++, payload}, nullptr, f);
        (void)bare.exec("COMMIT", f);
    });
    char what[128];
    std::snprintf(what, sizeof what, "%s: store one complete reading (%zu bytes)", label, bytes);
    print(what, put, floor);
}

// Runs a program with its output thrown away; its wall time in ms and peak memory in MB, or a
// negative time when it failed. The peak is measured by /usr/bin/time (Debian package time),
// whose own small process starts the program: a child of this one would count this program's
// memory up to its exec as its own.
struct ProgramRun {
    double ms = -1;
    double peakMb = -1;
};

ProgramRun runProgram(const std::vector<std::string>& command, const std::string& scratch) {
    std::vector<std::string> argv = command;
    const std::string peakFile = scratch + "/peak.txt";
    const bool timed = ::access("/usr/bin/time", X_OK) == 0;
    if (timed) argv.insert(argv.begin(), {"/usr/bin/time", "-f", "%M", "-o", peakFile});
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ProgramRun r;
    if (spawned != 0) return r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) r.ms = ms(Clock::now() - start);
    if (std::FILE* f = timed ? std::fopen(peakFile.c_str(), "r") : nullptr) {
        long kb = 0;
        if (std::fscanf(f, "%ld", &kb) == 1) r.peakMb = static_cast<double>(kb) / 1024.0;
        std::fclose(f);
    }
    return r;
}

void csvFigures(const std::string& path, const std::string& scratch) {
    const char* other = std::getenv("NORVEX_BENCH_PROGRAM");
    const std::string program = other && *other ? other : std::string(NORVEX_BIN_DIR) + "/norvex";
    const std::string query =
        "SELECT r.local_time, r.serial, r.program, v.name, v.value FROM readings r JOIN "
        "reading_values v ON v.reading_id = r.id WHERE r.serial = 'TVK1000' ORDER BY "
        "r.taken_at, r.id;";
    std::vector<double> ours, shell;
    double peak = 0, shellPeak = 0;
    for (int i = 0; i < 7; ++i) {
        const ProgramRun a =
            runProgram({program, "--history", "sqlite:" + path, "--history-csv", "TVK1000"}, scratch);
        const ProgramRun b = runProgram({"sqlite3", "-csv", path, query}, scratch);
        if (a.ms < 0 || b.ms < 0) {
            std::printf("--history-csv: %s failed\n", a.ms < 0 ? program.c_str() : "sqlite3");
            return;
        }
        ours.push_back(a.ms);
        shell.push_back(b.ms);
        peak = std::max(peak, a.peakMb);
        shellPeak = std::max(shellPeak, b.peakMb);
    }
    std::sort(ours.begin(), ours.end());
    std::sort(shell.begin(), shell.end());
    std::printf(
        "%-58s median %8.1f ms  peak %6.1f MB   floor (sqlite3 -csv, same rows) median %8.1f ms  peak "
        "%6.1f MB  ratio %.2f\n",
        "norvex --history-csv, a unit with 1000 visits", ours[ours.size() / 2], peak, shell[shell.size() / 2],
        shellPeak, ours[ours.size() / 2] / shell[shell.size() / 2]);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qt::Application::applyLook();
    ScratchFolder dir;

    // --- storing ----------------------------------------------------------------------------
    {
        Fault fault;
        auto bare = openSqlite(dir.path() + "/bare.sqlite", fault);
        storeFigures("sqlite:" + dir.path() + "/store.sqlite", "SQLite", *bare);
    }
    if (const std::string pg = postgresUrl(); !pg.empty()) {
        Fault fault;
        auto bare = openPostgres(pg, fault);
        (void)bare->exec("DROP TABLE IF EXISTS reading_values, readings, units, history_schema, bare", fault);
        if (!openStore(pg, fault, OpenMode::Init))
            std::printf("PostgreSQL: cannot set up: %s\n", fault.detail.c_str());
        storeFigures(pg, "PostgreSQL", *bare);
        (void)bare->exec("DROP TABLE IF EXISTS reading_values, readings, units, history_schema, bare", fault);
    } else {
        std::printf("PostgreSQL: skipped (NORVEX_TEST_PG_URL not set)\n");
    }

    // --- a unit with 1000 visits ----------------------------------------------------------------
    const std::string url = "sqlite:" + dir.path() + "/thousand.sqlite";
    {
        Fault fault;
        auto store = openStore(url, fault);
        for (int i = 0; i < 1000; ++i) {
            Reading r = knownReading("TVK1000", 1'700'000'000 + i * 86400LL, i);
            if (store->put(r, fault) != PutResult::Stored)
                std::printf("put failed: %s\n", fault.detail.c_str());
        }
    }
    History history(url, dir.path() + "/outbox.sqlite");
    qt::HistoryWindow window(history);
    window.show();
    QApplication::processEvents();
    const Figures open = measure(15, [&] {
        window.selectUnit("TVK1000");
        window.tabs()->setCurrentIndex(1);
        // Every chart laid out and drawn once, as the window shows them.
        auto* area = window.findChild<QScrollArea*>();
        QImage image(area->widget()->sizeHint(), QImage::Format_ARGB32);
        area->widget()->resize(area->widget()->sizeHint());
        area->widget()->render(&image);
    });
    const Figures selectOnly = measure(15, [&] { window.selectUnit("TVK1000"); });
    Fault fault;
    HistoryStore* store = history.store(fault);
    std::vector<VisitSummary> visits;
    const Figures bareQuery =
        measure(15, [&] { (void)store->unitHistory("TVK1000", trendValueNames(), visits, fault); });
    std::printf("(%d charts; the floor is the query of the %zu values per visit they plot, %zu visits)\n",
                window.chartCount(), trendValueNames().size(), visits.size());
    print("open a unit with 1000 visits and draw its charts", open, bareQuery);
    print("  of which: query, series and chart objects (not drawn)", selectOnly, bareQuery);
    csvFigures(dir.path() + "/thousand.sqlite", dir.path());
    return 0;
}
