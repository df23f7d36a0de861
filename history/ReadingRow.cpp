// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/ReadingRow.h"

#include "history/HistoryStore.h"

namespace norvex::history {

namespace {

constexpr int COLUMN_COUNT = 16;

Value blobOrNull(const std::vector<std::uint8_t>& bytes) {
    if (bytes.empty()) return nullptr;
    return Blob{bytes};
}

std::vector<std::uint8_t> creditBytes(const std::array<std::uint16_t, 16>& credit) {
    std::vector<std::uint8_t> out;
    for (auto c : credit) {
        out.push_back(static_cast<std::uint8_t>(c >> 8));
        out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    }
    return out;
}

} // namespace

const char* readingColumns() {
    return "id, serial, taken_at, local_time, machine, program, parts, report_serial, "
           "program_revision, bill_credit, ident, setup, statistics, sensors, optics, video";
}

std::string readingPlaceholders(int first) {
    std::string out;
    for (int i = 0; i < COLUMN_COUNT; ++i) {
        if (i) out += ", ";
        // Piece by piece: GCC 12 at -O3 takes "$" + std::to_string() for an overlapping copy.
        out += '$';
        out += std::to_string(first + i);
    }
    return out;
}

std::vector<Value> readingValues(const Reading& r) {
    const std::vector<std::uint8_t> revision(r.programRevision.begin(), r.programRevision.end());
    return {r.id,
            r.serial,
            r.takenAt,
            localTimeText(r.localTime),
            r.machine,
            r.programText,
            static_cast<std::int64_t>(r.parts),
            r.reportSerial,
            Blob{revision},
            Blob{creditBytes(r.billCredit)},
            blobOrNull(r.ident),
            blobOrNull(r.setup),
            blobOrNull(r.statistics),
            blobOrNull(r.sensors),
            blobOrNull(r.optics),
            blobOrNull(r.video)};
}

Reading readingFromRow(const Row& row) {
    static const std::optional<std::string> NONE;
    auto cell = [&](std::size_t i) -> const std::optional<std::string>& {
        return i < row.size() ? row[i] : NONE;
    };
    Reading out;
    out.id = cell(0).value_or("");
    out.serial = cell(1).value_or("");
    out.takenAt = cellInt(cell(2));
    out.localTime = parseLocalTime(cell(3).value_or(""));
    out.machine = cell(4).value_or("");
    out.programText = cell(5).value_or("");
    out.parts = static_cast<int>(cellInt(cell(6)));
    out.reportSerial = cell(7).value_or("");
    const auto rev = cellBytes(cell(8));
    for (std::size_t i = 0; i < out.programRevision.size() && i < rev.size(); ++i)
        out.programRevision[i] = static_cast<char>(rev[i]);
    const auto credit = cellBytes(cell(9));
    for (std::size_t i = 0; i < 16 && 2 * i + 1 < credit.size(); ++i)
        out.billCredit[i] = static_cast<std::uint16_t>(credit[2 * i] << 8 | credit[2 * i + 1]);
    out.ident = cellBytes(cell(10));
    out.setup = cellBytes(cell(11));
    out.statistics = cellBytes(cell(12));
    out.sensors = cellBytes(cell(13));
    out.optics = cellBytes(cell(14));
    out.video = cellBytes(cell(15));
    out.maker = identText(out.ident, 0, 3);
    out.model = identText(out.ident, 15, 12);
    return out;
}

} // namespace norvex::history
