// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bus monitor's rows, free of any toolkit: one row per frame and one per answer of the
// exchanges the bus log keeps, the filters, the texts of every cell, search and CSV. The Qt
// binding shows it through a table model and calls update() at its tick.

#include "BusLog.h"

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace norvex::ui {

struct MonitorFilter {
    bool hidePollBareAck = false; // POLLs the validator answered with a bare ACK: nothing to see
    int command = -1;             // only frames with this first byte (30..37) and their answers
    bool onlyFaults = false;      // NAK, silence, purged or stray bytes, a bad checksum, a repeat
    // Only exchanges with the device at this address (08, 10, 30, 60 ...; the link's own are the
    // validator's at 30); -1: every device.
    int address = -1;
    bool operator==(const MonitorFilter&) const = default;
};

enum MonitorColumn : int {
    COLUMN_TIME = 0,
    COLUMN_DIRECTION,
    COLUMN_COMMAND,
    COLUMN_BYTES,
    COLUMN_MEANING,
    COLUMN_REPLY,
    COLUMN_CHECKSUM,
    COLUMN_NOTE,
    COLUMN_COUNT
};

class BusMonitor {
public:
    explicit BusMonitor(const BusLog& log) : log_(log) {}

    struct Change {
        std::size_t removedFront = 0; // rows gone from the top (their exchanges were forgotten)
        std::size_t added = 0;        // rows added at the bottom
    };
    // Follows the bus log after it took new exchanges: drops the rows of the exchanges it
    // forgot, then adds the rows of the new ones.
    Change update();
    // The same in steps, for a view that must be told before each change.
    std::size_t forgottenRows() const;
    void dropForgotten();
    std::size_t newRows() const;
    void appendNew();

    const MonitorFilter& filter() const { return filter_; }
    // Applies the filter to every kept exchange again.
    void setFilter(const MonitorFilter& filter);

    std::size_t rowCount() const { return rows_.size(); }
    std::string cell(std::size_t row, int column) const;
    static const char* columnTitle(int column);
    bool isAnswer(std::size_t row) const { return rows_[row].answer; }
    bool isFault(std::size_t row) const;
    // The exchange a row belongs to.
    const KeptExchange& exchange(std::size_t row) const;

    // A row by what it shows, so that it can be found again after the filter changed.
    struct RowKey {
        std::uint64_t exchange = 0; // the bus log's count of taken exchanges
        bool answer = false;
    };
    RowKey key(std::size_t row) const { return {rows_[row].exchange, rows_[row].answer}; }
    // The row of `key`; when the filter hides it (or it was forgotten), the nearest shown row after
    // it, else the last row; -1 when no row is shown.
    long rowOf(const RowKey& key) const;

    // The first row from `from` on (wrapping round; backwards: from `from` down) whose cells
    // contain `needle`, ignoring case; -1 when none does.
    long find(const std::string& needle, std::size_t from, bool backwards = false) const;
    // Rows as text: CSV with a header line (CR LF line ends), or tab-separated for the clipboard.
    std::string csv(const std::vector<std::size_t>& rows) const;
    std::string csvAll() const;
    std::string tabText(const std::vector<std::size_t>& rows) const;
    // Every shown row into a CSV file. False with the reason.
    [[nodiscard]] bool exportCsv(const std::string& path, std::string& error) const;

    // Wall-clock time of a stamp as the monitor shows it: local time with microseconds.
    static std::string timeText(std::int64_t wallUs);

private:
    struct Row {
        std::uint64_t exchange; // its number in the bus log's count of taken exchanges
        bool answer;
    };
    bool passes(const KeptExchange& k) const;
    void addRows(const KeptExchange& k, std::uint64_t index);
    // Rows of an exchange: one for the frame (command), one for the answer.
    static bool hasFrameRow(const KeptExchange& k);
    static bool hasAnswerRow(const KeptExchange& k);
    std::string heardCell(const Row& w, const KeptExchange& k, int column) const;
    std::uint64_t firstKept() const { return log_.forgotten(); }

    const BusLog& log_;
    MonitorFilter filter_;
    std::deque<Row> rows_;
    std::uint64_t seen_ = 0; // bus log exchanges looked at so far (by their taken count)
};

} // namespace norvex::ui
