// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Readings made of known records, a scratch folder, and the two databases the store's cases
// run against.

#include "history/History.h"
#include "history/HistoryStore.h"
#include "history/Reading.h"

#include <string>

namespace norvex::history::testing {

// A reading of unit `serial` at `takenAt` whose records follow from `seed`: every byte of
// every record differs between seeds, and the statistics give a known acceptance rate
// (accepted bills = 100 + seed, optical rejections = seed).
Reading knownReading(const std::string& serial, std::int64_t takenAt, int seed,
                     int parts = PART_STATISTICS | PART_SENSORS | PART_OPTICS | PART_VIDEO);

// A folder under /tmp, removed with everything in it when the object goes.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The PostgreSQL server the tests may use: NORVEX_TEST_PG_URL; empty when none is given.
std::string postgresUrl();
// The command that stops and starts that server (NORVEX_TEST_PG_CTL, a pg_ctl command line
// to which "stop" or "start" is added); empty when none is given.
std::string postgresControl();

} // namespace norvex::history::testing
