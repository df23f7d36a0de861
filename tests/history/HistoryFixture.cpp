// SPDX-License-Identifier: GPL-3.0-or-later
#include "HistoryFixture.h"

#include "diagnostics/OpticsData.h"
#include "diagnostics/SensorsData.h"
#include "diagnostics/StatisticsData.h"
#include "diagnostics/VideoTestData.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace norvex::history::testing {

Reading knownReading(const std::string& serial, std::int64_t takenAt, int seed, int parts) {
    Reading r;
    r.id = makeReadingId();
    r.serial = serial;
    r.takenAt = takenAt;
    const std::time_t t = static_cast<std::time_t>(takenAt);
    gmtime_r(&t, &r.localTime);
    r.machine = "bench-pc";
    r.parts = parts;
    r.reportSerial = serial.substr(0, 10);
    auto fill = [&](std::size_t n, int salt) {
        std::vector<std::uint8_t> v(n);
        for (std::size_t i = 0; i < n; ++i)
            v[i] = static_cast<std::uint8_t>((i * 7 + seed * 13 + salt) & 0xFF);
        return v;
    };
    r.ident = fill(29, 1);
    const std::string idText =
        "TVK" + (serial + "            ").substr(0, 12) + "MODEL-" + std::to_string(seed % 10) + "     ";
    for (std::size_t i = 0; i < 27 && i < idText.size(); ++i)
        r.ident[i] = static_cast<std::uint8_t>(idText[i]);
    r.maker = identText(r.ident, 0, 3);
    r.model = identText(r.ident, 15, 12);
    r.programText = identText(r.ident, 15, 8);
    for (int i = 0; i < 8; ++i)
        r.programRevision[i] = static_cast<char>(r.ident[15 + i]);
    r.setup = fill(27, 2);
    for (int i = 0; i < 16; ++i)
        r.billCredit[i] = r.setup[11 + i];
    r.statistics = std::vector<std::uint8_t>(diagnostics::STATISTICS_DATA_BYTES, 0);
    const int accepted = 100 + seed, optical = seed;
    r.statistics[0] = static_cast<std::uint8_t>(accepted & 0xFF);
    r.statistics[1] = static_cast<std::uint8_t>(accepted >> 8);
    r.statistics[34] = static_cast<std::uint8_t>(optical & 0xFF); // event 2
    r.statistics[35] = static_cast<std::uint8_t>(optical >> 8);
    r.statistics[32 + 2 * 14] = static_cast<std::uint8_t>(seed % 5); // event 15
    r.sensors = fill(diagnostics::SENSORS_DATA_BYTES, 3);
    r.optics = fill(diagnostics::OPTICS_DATA_BYTES, 4);
    r.video = fill(diagnostics::VIDEO_TEST_DATA_BYTES, 5);
    return r;
}

ScratchFolder::ScratchFolder() {
    char tmpl[] = "/tmp/norvex-history-XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string postgresUrl() {
    const char* v = std::getenv("NORVEX_TEST_PG_URL");
    return v ? v : "";
}

std::string postgresControl() {
    const char* v = std::getenv("NORVEX_TEST_PG_CTL");
    return v ? v : "";
}

} // namespace norvex::history::testing
