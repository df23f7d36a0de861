// Service history figures, each beside a floor measured in the same run:
//  - storing one complete reading (every record, about 330 decoded values) in SQLite, beside a
//    bare SQLite transaction that writes the same number of bytes as one row; the same on
//    PostgreSQL when NORVEX_TEST_PG_URL names a server;
//  - opening the history of a unit with 1000 visits in the window and drawing its charts
//    (offscreen), beside the bare query of the values the charts need.

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
#include <functional>
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
    return 0;
}
