// SPDX-License-Identifier: GPL-3.0-or-later
// A reading read back from a history or an outbox, whose row may come from an older program
// or a damaged database: cells missing, NULL, too short or too long, text that is no time.
// The reading made of it gives its values, its report again and its CSV line without fault.
//
// Input: the number of cells (up to sixteen, in the order of the reading's columns), then each
// cell: a length byte (255: NULL; 254: the length follows in two bytes) and that many bytes.

#include "ByteScript.h"
#include "history/ReadingRow.h"
#include "history/Trends.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace norvex::history;
using norvex::fuzz::ByteScript;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "stored reading invariant broken: %s (%s)\n", what, detail.c_str());
    std::abort();
}

// The commas outside quotes on each line; a line break inside quotes belongs to its cell.
std::vector<std::size_t> commasPerLine(const std::string& csv) {
    std::vector<std::size_t> lines;
    std::size_t n = 0;
    bool quoted = false;
    for (std::size_t i = 0; i < csv.size(); ++i) {
        const char c = csv[i];
        if (c == '"') quoted = !quoted;
        if (c == ',' && !quoted) ++n;
        if (!quoted && c == '\r' && i + 1 < csv.size() && csv[i + 1] == '\n') {
            lines.push_back(n);
            n = 0;
            ++i;
        }
    }
    if (quoted || n != 0 || (!csv.empty() && csv.back() != '\n')) broken("a line not ended", csv);
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ByteScript in(data, size);
    Row row;
    const std::size_t cells = in.byte() % 17;
    for (std::size_t i = 0; i < cells; ++i) {
        const std::uint8_t n = in.byte();
        if (n == 255) {
            row.emplace_back(std::nullopt);
            continue;
        }
        std::string cell(n == 254 ? in.u16() : n, '\0');
        cell.resize(in.take(reinterpret_cast<std::uint8_t*>(cell.data()), cell.size()));
        row.emplace_back(std::move(cell));
    }
    const Reading r = readingFromRow(row);

    // The values: known names, in their order, each once.
    const auto values = decodedValues(r);
    const auto& names = valueNames();
    std::size_t at = 0;
    VisitSummary visit;
    for (const auto& [name, value] : values) {
        while (at < names.size() && names[at] != name)
            ++at;
        if (at == names.size()) broken("a value out of order or of no known name", name);
        ++at;
        if (std::isnan(value)) broken("a value that is no number", name);
        visit.values[name] = value;
    }
    // The report: whole lines.
    const std::string report = recreateReport(r);
    if (!report.empty() && report.size() >= 2 && report.compare(report.size() - 2, 2, "\r\n") != 0)
        broken("the report does not end its last line", std::to_string(report.size()));
    // The CSV: two header lines (names, then captions) and the reading's line, all as wide as
    // the first.
    visit.localTime = localTimeText(r.localTime);
    visit.program = r.programText;
    const std::string csv = historyCsv(r.serial, {visit});
    const std::vector<std::size_t> lines = commasPerLine(csv);
    if (lines.size() != 3) broken("not two header lines and one reading", csv);
    if (lines[1] != lines[0] || lines[2] != lines[0]) broken("a line not as wide as the header", csv);
    // Stored again, it is the same reading.
    if (readingFromRow(row).id != r.id) broken("read twice, read otherwise", r.id);
    return 0;
}
