// SPDX-License-Identifier: GPL-3.0-or-later
// Our own cost of a full-size download (55 groups, 1760 records), without the loader's fixed waits,
// against the time its bytes need on the wire.
//
//   PtyDownload: the real channel on a pseudo-terminal, the test loader answering from a thread.
//   InProcessDownload: the procedure alone, over the in-process channel (no system calls).
//
// Counters: bytes each way as the tool wrote and read them, the wire time they need at 38400 baud with
// 10-bit characters (the handshake and speed change at 9600), both as a strict turn-taking exchange
// and with the loader's block echo overlapping our block, and our time as a share of the latter.

#include "DownloadDoubles.h"
#include "PtyLoaderPeer.h"
#include "TestImage.h"
#include "download/FirmwareDownload.h"
#include "download/PosixByteChannel.h"

#include <benchmark/benchmark.h>

using namespace norvex::download;
using namespace norvex::download::testing;

namespace {

constexpr double CHAR_BITS = 10.0;

struct Wire {
    double sequentialS = 0; // every byte waits for the answer before it
    double overlappedS = 0; // the loader's 128-byte echo runs alongside our block
};

// 9600 baud: the handshake (4 out, 2 in) and the speed change (5 out). Everything else at 38400.
Wire wireTime(size_t toLoader, size_t fromLoader, int records) {
    const double slow = (4 + 2 + 5) * CHAR_BITS / 9600.0;
    const double outFast = static_cast<double>(toLoader - 9) * CHAR_BITS / 38400.0;
    const double inFast = static_cast<double>(fromLoader - 2) * CHAR_BITS / 38400.0;
    const double echoed =
        static_cast<double>(records + 1) * 127 * CHAR_BITS / 38400.0; // all but the last echo byte
    return {slow + outFast + inFast, slow + outFast + inFast - echoed};
}

DownloadOptions benchOptions(const std::string& imagePath) {
    DownloadOptions options;
    options.confirmDipSwitches = false;
    options.imagePath = imagePath;
    options.timing.speedChangeDelayMs = 0;
    options.timing.speedCheckDelayMs = 0;
    options.timing.checkValueDelayMs = 0;
    return options;
}

void report(benchmark::State& state, size_t toLoader, size_t fromLoader, int records, double ourSeconds) {
    const Wire wire = wireTime(toLoader, fromLoader, records);
    state.counters["bytes_to_loader"] = static_cast<double>(toLoader);
    state.counters["bytes_from_loader"] = static_cast<double>(fromLoader);
    state.counters["wire_seq_s"] = wire.sequentialS;
    state.counters["wire_overlap_s"] = wire.overlappedS;
    state.counters["loader_waits_s"] = 2.21;
    state.counters["ours_us_per_record"] = ourSeconds * 1e6 / records;
    state.counters["ours_pct_of_wire"] = 100.0 * ourSeconds / wire.overlappedS;
}

void PtyDownload(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.write("BENCH.TVK", makeImage({.terminateTable = false}));
    size_t toLoader = 0, fromLoader = 0;
    double seconds = 0;
    for (auto _ : state) {
        Events events;
        RecordingUi ui(events);
        RecordingLink link(events);
        PtyLoaderPeer peer;
        PosixByteChannel channel(peer.slavePath());
        FirmwareDownload download(channel, ui, link, benchOptions(path));
        const auto start = std::chrono::steady_clock::now();
        if (download.run() != DownloadOutcome::Success) state.SkipWithError("download failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        peer.stop();
        toLoader = download.report().traffic.bytesSent;
        fromLoader = download.report().traffic.bytesReceived;
    }
    report(state, toLoader, fromLoader, 1760, seconds / static_cast<double>(state.iterations()));
}

void InProcessDownload(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.write("BENCH.TVK", makeImage({.terminateTable = false}));
    size_t toLoader = 0, fromLoader = 0;
    double seconds = 0;
    for (auto _ : state) {
        Events events;
        RecordingUi ui(events);
        RecordingLink link(events);
        ScriptedChannel channel(events);
        FirmwareDownload download(channel, ui, link, benchOptions(path));
        const auto start = std::chrono::steady_clock::now();
        if (download.run() != DownloadOutcome::Success) state.SkipWithError("download failed");
        seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        toLoader = download.report().traffic.bytesSent;
        fromLoader = download.report().traffic.bytesReceived;
    }
    report(state, toLoader, fromLoader, 1760, seconds / static_cast<double>(state.iterations()));
}

} // namespace

BENCHMARK(PtyDownload)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(InProcessDownload)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_MAIN();
