// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/Outbox.h"

#include "history/ReadingRow.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvex::history {

namespace {

const char* const CREATE_KEPT =
    "CREATE TABLE IF NOT EXISTS kept (id TEXT PRIMARY KEY, serial TEXT NOT NULL, taken_at BIGINT NOT NULL, "
    "local_time TEXT NOT NULL, machine TEXT NOT NULL, program TEXT NOT NULL, parts INTEGER NOT NULL, "
    "report_serial TEXT NOT NULL, program_revision BLOB NOT NULL, bill_credit BLOB NOT NULL, ident BLOB, "
    "setup BLOB, statistics BLOB, sensors BLOB, optics BLOB, video BLOB, destination TEXT NOT NULL, "
    "kept_at BIGINT NOT NULL, set_aside TEXT)";

// The file and its folder belong to the user alone: readings name the units and the computers.
bool makeFile(const std::string& path, Fault& fault) {
    const std::filesystem::path p(path);
    if (p.has_parent_path()) {
        std::error_code ec;
        if (std::filesystem::create_directories(p.parent_path(), ec)) ::chmod(p.parent_path().c_str(), 0700);
        if (ec) {
            fault = {ec == std::errc::no_space_on_device ? FaultKind::Full : FaultKind::Denied,
                     "cannot create " + p.parent_path().string() + ": " + ec.message()};
            return false;
        }
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        fault = {error == ENOSPC || error == EDQUOT ? FaultKind::Full : FaultKind::Denied,
                 "cannot create " + path + ": " + std::strerror(error)};
        return false;
    }
    ::close(fd);
    return true;
}

} // namespace

std::unique_ptr<Outbox> Outbox::open(const std::string& path, bool create, Fault& fault) {
    fault = {};
    if (create) {
        if (!makeFile(path, fault)) return nullptr;
    } else if (::access(path.c_str(), F_OK) != 0) {
        fault = {FaultKind::NoSchema, "no outbox at " + path};
        return nullptr;
    }
    auto db = openSqlite(path, fault, false);
    if (!db) return nullptr;
    if (!db->exec(CREATE_KEPT, fault)) {
        fault.detail = path + ": " + fault.detail;
        return nullptr;
    }
    return std::unique_ptr<Outbox>(new Outbox(std::move(db)));
}

bool Outbox::keep(const Reading& reading, const std::string& destination, Fault& fault) {
    std::vector<Value> values = readingValues(reading);
    values.emplace_back(destination);
    values.emplace_back(static_cast<std::int64_t>(std::time(nullptr)));
    return db_->exec(std::string("INSERT INTO kept (") + readingColumns() +
                         ", destination, kept_at) VALUES (" + readingPlaceholders() +
                         ", $17, $18) ON CONFLICT (id) DO NOTHING",
                     values, nullptr, fault);
}

bool Outbox::bound(const std::string& destination, std::vector<std::string>& ids, Fault& fault) {
    ids.clear();
    std::vector<Row> rows;
    if (!db_->exec("SELECT id FROM kept WHERE destination = $1 AND set_aside IS NULL ORDER BY taken_at, id",
                   {destination}, &rows, fault))
        return false;
    for (const Row& r : rows)
        ids.push_back(r.empty() ? std::string() : r[0].value_or(""));
    return true;
}

bool Outbox::reading(const std::string& id, Reading& out, Fault& fault) {
    std::vector<Row> rows;
    if (!db_->exec(std::string("SELECT ") + readingColumns() + " FROM kept WHERE id = $1", {id}, &rows,
                   fault))
        return false;
    fault = {};
    if (rows.empty()) return false;
    out = readingFromRow(rows[0]);
    return true;
}

bool Outbox::remove(const std::string& id, Fault& fault) {
    return db_->exec("DELETE FROM kept WHERE id = $1", {id}, nullptr, fault);
}

bool Outbox::setAside(const std::string& id, const std::string& why, Fault& fault) {
    return db_->exec("UPDATE kept SET set_aside = $2 WHERE id = $1", {id, why}, nullptr, fault);
}

bool Outbox::counts(const std::string& destination, Counts& out, Fault& fault) {
    out = {};
    std::vector<Row> rows;
    if (!db_->exec("SELECT COUNT(CASE WHEN set_aside IS NULL AND destination = $1 THEN 1 END), "
                   "COUNT(CASE WHEN set_aside IS NULL AND destination <> $1 THEN 1 END), "
                   "COUNT(set_aside) FROM kept",
                   {destination}, &rows, fault))
        return false;
    if (rows.empty() || rows[0].size() < 3) return true;
    out.here = static_cast<std::size_t>(cellInt(rows[0][0]));
    out.elsewhere = static_cast<std::size_t>(cellInt(rows[0][1]));
    out.setAside = static_cast<std::size_t>(cellInt(rows[0][2]));
    return true;
}

} // namespace norvex::history
