// SPDX-License-Identifier: GPL-3.0-or-later
#include "BusMonitor.h"

#include "control/CsvText.h"
#include "control/Format.h"
#include "control/HeardDecoder.h"
#include "diagnostics/ReportFile.h"
#include "link/MdbCommands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fstream>

namespace norvex::ui {

using control::format;
using link::ExchangeEnd;

namespace {

constexpr const char* TITLES[COLUMN_COUNT] = {"Time",    "Direction", "Command",  "Bytes",
                                              "Meaning", "Reply",     "Checksum", "Note"};

std::string hex(const std::uint8_t* b, std::size_t n) {
    static const char DIGITS[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) s.push_back(' ');
        s.push_back(DIGITS[b[i] >> 4]);
        s.push_back(DIGITS[b[i] & 15]);
    }
    return s;
}

std::string millis(std::int64_t us) {
    return format("%lld.%03lld ms", static_cast<long long>(us / 1000), static_cast<long long>(us % 1000));
}

const char* checksumText(control::ChecksumState s) {
    switch (s) {
    case control::ChecksumState::Good:
        return "ok";
    case control::ChecksumState::Bad:
        return "bad";
    case control::ChecksumState::None:
        break;
    }
    return "";
}

bool faulty(const KeptExchange& k) {
    if (k.heard) {
        const link::HeardExchange& h = *k.heard;
        return h.faults != 0 || h.kind != link::HeardKind::Exchange ||
               (h.answerLength() == 1 && h.answer[0] == 0xFF);
    }
    const ExchangeEnd e = k.record.end;
    return e == ExchangeEnd::Nak || e == ExchangeEnd::Silence || e == ExchangeEnd::Purged ||
           e == ExchangeEnd::Stray || e == ExchangeEnd::ChecksumFault || k.record.repeat || k.record.resend ||
           k.answerChecksum == control::ChecksumState::Bad || k.frameChecksum == control::ChecksumState::Bad;
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

} // namespace

BusMonitor::Change BusMonitor::update() {
    Change c;
    c.removedFront = forgottenRows();
    dropForgotten();
    c.added = newRows();
    appendNew();
    return c;
}

std::size_t BusMonitor::forgottenRows() const {
    const std::uint64_t first = firstKept();
    std::size_t n = 0;
    while (n < rows_.size() && rows_[n].exchange < first)
        ++n;
    return n;
}

void BusMonitor::dropForgotten() {
    const std::uint64_t first = firstKept();
    while (!rows_.empty() && rows_.front().exchange < first)
        rows_.pop_front();
}

std::size_t BusMonitor::newRows() const {
    const std::uint64_t first = firstKept();
    std::size_t n = 0;
    for (std::uint64_t i = std::max(seen_, first); i < log_.taken(); ++i) {
        const KeptExchange& k = log_.kept()[static_cast<std::size_t>(i - first)];
        if (passes(k)) n += (hasFrameRow(k) ? 1 : 0) + (hasAnswerRow(k) ? 1 : 0);
    }
    return n;
}

void BusMonitor::appendNew() {
    const std::uint64_t first = firstKept();
    if (seen_ < first) seen_ = first;
    for (const std::uint64_t total = log_.taken(); seen_ < total; ++seen_) {
        const KeptExchange& k = log_.kept()[static_cast<std::size_t>(seen_ - first)];
        if (passes(k)) addRows(k, seen_);
    }
}

void BusMonitor::setFilter(const MonitorFilter& filter) {
    filter_ = filter;
    rows_.clear();
    const std::uint64_t first = firstKept();
    for (std::size_t i = 0; i < log_.kept().size(); ++i)
        if (passes(log_.kept()[i])) addRows(log_.kept()[i], first + i);
    seen_ = log_.taken();
}

bool BusMonitor::passes(const KeptExchange& k) const {
    if (k.heard) {
        const link::HeardExchange& h = *k.heard;
        const bool command = h.commandLength > 0 && h.kind != link::HeardKind::ControllerStray;
        if (filter_.address >= 0 && h.address != filter_.address) return false;
        if (filter_.command >= 0 && (!command || h.command[0] != filter_.command)) return false;
        if (filter_.hidePollBareAck && h.kind == link::HeardKind::Exchange &&
            link::isPollCommand(h.command[0]) && h.answerReceived == 1 && h.answer[0] == 0x00 &&
            h.faults == 0)
            return false;
        return !filter_.onlyFaults || faulty(k);
    }
    if (filter_.address >= 0 && filter_.address != link::ADDRESS_BILL_VALIDATOR) return false;
    const link::ExchangeRecord& r = k.record;
    if (filter_.hidePollBareAck && r.frameLength > 0 && r.frame[0] == 0x33 && r.end == ExchangeEnd::BareAck)
        return false;
    if (filter_.command >= 0 && (r.frameLength == 0 || r.frame[0] != filter_.command)) return false;
    if (filter_.onlyFaults && !faulty(k)) return false;
    return true;
}

bool BusMonitor::hasFrameRow(const KeptExchange& k) {
    if (!k.heard) return k.record.frameLength > 0;
    const link::HeardKind kind = k.heard->kind;
    return kind == link::HeardKind::Exchange || kind == link::HeardKind::ControllerStray ||
           kind == link::HeardKind::BusReset;
}

bool BusMonitor::hasAnswerRow(const KeptExchange& k) {
    return k.heard ? k.heard->answerReceived > 0 : k.record.received > 0;
}

void BusMonitor::addRows(const KeptExchange& k, std::uint64_t index) {
    if (hasFrameRow(k)) rows_.push_back({index, false});
    if (hasAnswerRow(k)) rows_.push_back({index, true});
}

const KeptExchange& BusMonitor::exchange(std::size_t row) const {
    return log_.kept()[static_cast<std::size_t>(rows_[row].exchange - firstKept())];
}

bool BusMonitor::isFault(std::size_t row) const {
    return faulty(exchange(row));
}

std::string BusMonitor::timeText(std::int64_t wallUs) {
    const std::time_t seconds = static_cast<std::time_t>(wallUs / 1000000);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return format("%04d-%02d-%02d %02d:%02d:%02d.%06lld", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<long long>(wallUs % 1000000));
}

const char* BusMonitor::columnTitle(int column) {
    return column >= 0 && column < COLUMN_COUNT ? TITLES[column] : "";
}

std::string BusMonitor::heardCell(const Row& w, const KeptExchange& k, int column) const {
    const link::HeardExchange& h = *k.heard;
    switch (column) {
    case COLUMN_TIME:
        return timeText(h.wallAt(w.answer ? h.answerFirstUs : h.commandFirstUs));
    case COLUMN_DIRECTION:
        return w.answer ? "peripheral" : "controller";
    case COLUMN_COMMAND:
        return k.command;
    case COLUMN_BYTES:
        if (!w.answer) return hex(h.command.data(), h.commandLength);
        if (h.answerReceived > h.answerLength())
            return hex(h.answer.data(), h.answerLength()) +
                   format(" ... (%u bytes)", static_cast<unsigned>(h.answerReceived));
        return hex(h.answer.data(), h.answerLength());
    case COLUMN_MEANING:
        return w.answer ? k.answerMeaning : k.frameMeaning;
    case COLUMN_REPLY:
        if (w.answer && h.answerFirstUs >= 0 && h.commandLastUs >= 0)
            return millis(std::max<std::int64_t>(0, h.answerDelayUs()));
        return {};
    case COLUMN_CHECKSUM:
        return checksumText(w.answer ? k.answerChecksum : k.frameChecksum);
    case COLUMN_NOTE:
        // The whole story on the answer's row; on the command's row when there is no answer.
        return w.answer || !hasAnswerRow(k) ? control::heardNote(h) : std::string();
    default:
        return {};
    }
}

std::string BusMonitor::cell(std::size_t row, int column) const {
    const Row& w = rows_[row];
    const KeptExchange& k = exchange(row);
    if (k.heard) return heardCell(w, k, column);
    const link::ExchangeRecord& r = k.record;
    switch (column) {
    case COLUMN_TIME:
        return timeText(w.answer ? r.wallAt(r.firstUs) : r.wallUs);
    case COLUMN_DIRECTION:
        return w.answer ? "received" : "sent";
    case COLUMN_COMMAND:
        return k.command;
    case COLUMN_BYTES:
        if (!w.answer) return hex(r.frame.data(), r.frameLength);
        if (r.received > r.answerLength())
            return hex(r.answer.data(), r.answerLength()) +
                   format(" ... (%u bytes)", static_cast<unsigned>(r.received));
        return hex(r.answer.data(), r.answerLength());
    case COLUMN_MEANING:
        return w.answer ? k.answerMeaning : k.frameMeaning;
    case COLUMN_REPLY:
        if (w.answer && r.sentUs >= 0) return millis(r.firstUs - r.sentUs);
        return {};
    case COLUMN_CHECKSUM:
        return checksumText(w.answer ? k.answerChecksum : k.frameChecksum);
    case COLUMN_NOTE: {
        if (!w.answer)
            return r.received == 0 ? std::string("no answer (") + link::exchangeEndName(r.end) + ")" : "";
        std::string note = link::exchangeEndName(r.end);
        if (r.end == ExchangeEnd::AckSent)
            note += format(" %s after the last byte", millis(r.ackUs - r.lastUs).c_str());
        if (r.lastUs > r.firstUs) note += format(", answer took %s", millis(r.lastUs - r.firstUs).c_str());
        if (r.repeat) note += ", repeat of the unacknowledged answer";
        if (r.resend) note += ", resent: our ACK may have been late; no event";
        if (r.end == ExchangeEnd::ChecksumFault) note += ", asked for again";
        return note;
    }
    default:
        return {};
    }
}

long BusMonitor::rowOf(const RowKey& key) const {
    if (rows_.empty()) return -1;
    // Rows follow the exchanges, the frame before the answer.
    const auto at = std::lower_bound(rows_.begin(), rows_.end(), key, [](const Row& r, const RowKey& k) {
        return r.exchange < k.exchange || (r.exchange == k.exchange && !r.answer && k.answer);
    });
    if (at == rows_.end()) return static_cast<long>(rows_.size()) - 1;
    return static_cast<long>(at - rows_.begin());
}

long BusMonitor::find(const std::string& needle, std::size_t from, bool backwards) const {
    if (rows_.empty() || needle.empty()) return -1;
    const std::string n = lower(needle);
    const std::size_t count = rows_.size();
    from %= count;
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t row = backwards ? (from + count - step) % count : (from + step) % count;
        for (int c = 0; c < COLUMN_COUNT; ++c)
            if (lower(cell(row, c)).find(n) != std::string::npos) return static_cast<long>(row);
    }
    return -1;
}

std::string BusMonitor::csv(const std::vector<std::size_t>& rows) const {
    std::string out;
    for (int c = 0; c < COLUMN_COUNT; ++c) {
        if (c) out += ',';
        out += control::csvText(lower(TITLES[c]));
    }
    out += "\r\n";
    for (std::size_t row : rows) {
        if (row >= rows_.size()) continue;
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            if (c) out += ',';
            out += control::csvText(cell(row, c));
        }
        out += "\r\n";
    }
    return out;
}

std::string BusMonitor::csvAll() const {
    std::vector<std::size_t> all(rows_.size());
    for (std::size_t i = 0; i < all.size(); ++i)
        all[i] = i;
    return csv(all);
}

std::string BusMonitor::tabText(const std::vector<std::size_t>& rows) const {
    std::string out;
    for (std::size_t row : rows) {
        if (row >= rows_.size()) continue;
        for (int c = 0; c < COLUMN_COUNT; ++c) {
            if (c) out += '\t';
            out += cell(row, c);
        }
        out += "\n";
    }
    return out;
}

bool BusMonitor::exportCsv(const std::string& path, std::string& error) const {
    // All or nothing, as a report: an earlier export of that name survives a full disk.
    return diagnostics::writeReportFile(path, csvAll(), error);
}

} // namespace norvex::ui
