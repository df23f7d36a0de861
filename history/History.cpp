// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/History.h"

#include "link/ConfigFile.h"

#include <cstdlib>
#include <sys/stat.h>

namespace norvex::history {

namespace {

// history.conf holds one line; anything much larger is not ours.
constexpr std::size_t SETTINGS_LIMIT = 64 * 1024;

std::string folderOf(const char* variable, const char* underHome) {
    const char* xdg = std::getenv(variable);
    if (xdg && *xdg == '/') return std::string(xdg) + "/norvex";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + underHome + "/norvex";
}

} // namespace

std::string dataFolder() {
    return folderOf("XDG_DATA_HOME", "/.local/share");
}

std::string stateFolder() {
    return folderOf("XDG_STATE_HOME", "/.local/state");
}

std::string defaultHistoryUrl() {
    return "sqlite:" + dataFolder() + "/history.sqlite";
}

std::string historySettingsPath() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/norvex/history.conf";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config/norvex/history.conf";
}

std::string configuredHistoryUrl(std::string* warning) {
    const std::string path = historySettingsPath();
    std::string text, why;
    if (link::readConfigFile(path, SETTINGS_LIMIT, text, why) == link::ConfigRead::Refused) {
        if (warning) *warning = why + " The default history is used.";
        return defaultHistoryUrl();
    }
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("url=", 0) == 0 && line.size() > 4) {
            const std::string url = line.substr(4);
            // A file an earlier version wrote readable by everyone, with a password in it.
            struct stat st {};
            if (hasPassword(url) && ::stat(path.c_str(), &st) == 0 && (st.st_mode & 077) != 0)
                (void)::chmod(path.c_str(), st.st_mode & 0700);
            return url;
        }
    }
    return defaultHistoryUrl();
}

bool saveHistoryUrl(const std::string& url, std::string& error) {
    std::string why;
    if (!link::replaceConfigFile(historySettingsPath(), "url=" + url + "\n", 0600, why)) {
        error = "Cannot save the history setting: " + why;
        return false;
    }
    return true;
}

std::unique_ptr<HistoryStore> openStore(const std::string& url, Fault& fault, OpenMode mode) {
    HistoryUrl parsed;
    std::string error;
    if (!parseHistoryUrl(url, parsed, error)) {
        fault = {FaultKind::Invalid, error};
        return nullptr;
    }
    std::unique_ptr<Database> db;
    if (parsed.kind == HistoryUrl::Kind::Sqlite) {
        db = openSqlite(parsed.target, fault, mode != OpenMode::Read);
        if (!db && fault.kind == FaultKind::NoSchema) fault.detail = NO_HISTORY;
    } else {
        // Setting a history up may take as long as it takes; everything else is bounded.
        db = openPostgres(parsed.target, fault, mode == OpenMode::Init ? 0 : STATEMENT_TIMEOUT_MS);
    }
    if (!db) return nullptr;
    return HistoryStore::open(std::move(db), fault, mode);
}

History::History(std::string url, std::string outboxPath)
    : url_(std::move(url)), destination_(destinationKey(url_)),
      outboxPath_(outboxPath.empty() ? stateFolder() + "/outbox.sqlite" : std::move(outboxPath)) {}

History::~History() = default;

void History::reopen(const std::string& url) {
    url_ = url;
    destination_ = destinationKey(url_);
    store_.reset();
    troubleTold_ = false;
}

HistoryStore* History::store(Fault& fault) {
    fault = {};
    if (!store_) store_ = openStore(url_, fault);
    return store_.get();
}

Outbox* History::outbox(bool create, Fault& fault) {
    if (!outbox_) outbox_ = Outbox::open(outboxPath_, create, fault);
    return outbox_.get();
}

void History::dropDeadConnection(const Fault& fault) {
    // A dead connection, or a history whose schema or rights may change meanwhile (someone runs
    // --history-init, grants a right), is opened afresh next time.
    const bool changes = fault.kind != FaultKind::Unavailable && fault.kind != FaultKind::Full;
    if (store_ && (!store_->database().connected() || changes)) store_.reset();
}

bool History::send(HistoryStore& target, const Reading& reading, bool fromOutbox, Fault& fault) {
    if (target.put(reading, fault) != PutResult::Failed) {
        if (fromOutbox) {
            // Stored first, removed from the outbox after: a failure in between sends it again,
            // and the id makes that second sending store nothing.
            Fault boxFault;
            if (Outbox* box = outbox(false, boxFault)) (void)box->remove(reading.id, boxFault);
        }
        return true;
    }
    if (keepsReading(fault.kind)) return false;
    // The history refuses this reading for good: set aside, so that it blocks no other.
    if (fromOutbox) {
        Fault boxFault;
        if (Outbox* box = outbox(false, boxFault)) (void)box->setAside(reading.id, fault.detail, boxFault);
    }
    return true;
}

bool History::flush(int& sent, Fault& fault) {
    sent = 0;
    HistoryStore* target = store(fault);
    if (!target) {
        keepHeld();
        return false;
    }
    // Readings held in memory first: they are the oldest the outbox could not take.
    for (auto it = held_.begin(); it != held_.end();) {
        if (it->destination != destination_) {
            ++it;
            continue;
        }
        if (!send(*target, it->reading, false, fault)) {
            dropDeadConnection(fault);
            keepHeld();
            return false;
        }
        it = held_.erase(it);
        ++sent;
    }
    Fault boxFault;
    Outbox* box = outbox(false, boxFault);
    std::vector<std::string> ids;
    if (!box || !box->bound(destination_, ids, boxFault)) {
        fault = {};
        return true;
    }
    for (const std::string& id : ids) {
        Reading r;
        // Another program may have sent it meanwhile.
        if (!box->reading(id, r, boxFault)) continue;
        if (!send(*target, r, true, fault)) {
            dropDeadConnection(fault);
            return false;
        }
        ++sent;
    }
    fault = {};
    return true;
}

bool History::keepHeld(Fault& fault) {
    fault = {};
    if (held_.empty()) return true;
    Outbox* box = outbox(true, fault);
    if (!box) return false;
    for (auto it = held_.begin(); it != held_.end();) {
        if (!box->keep(it->reading, it->destination, fault)) return false;
        it = held_.erase(it);
    }
    return true;
}

void History::keepHeld() {
    Fault ignored;
    (void)keepHeld(ignored);
}

Waiting History::waiting() {
    Waiting w;
    w.held = held_.size();
    Fault fault;
    Outbox::Counts counts;
    // Asking must not create the outbox.
    if (Outbox* box = outbox(false, fault); box && box->counts(destination_, counts, fault)) {
        w.here = counts.here;
        w.elsewhere = counts.elsewhere;
        w.setAside = counts.setAside;
    }
    return w;
}

StoreReport History::store(const Reading& reading) {
    StoreReport report;
    Fault fault;
    if (store(fault)) {
        // What waits goes first; its failure does not keep this reading from being tried,
        // unless it left no history to try it on.
        Fault sendFault;
        (void)flush(report.sent, sendFault);
        if (store_ && store_->put(reading, fault) != PutResult::Failed) {
            troubleTold_ = false;
            return report;
        }
        if (!store_) fault = sendFault;
    } else if (fault.kind == FaultKind::Rejected) {
        // Opening a history says nothing about this reading's content.
        fault.kind = FaultKind::Invalid;
    }
    report.fault = fault;
    if (!keepsReading(fault.kind)) {
        // The history itself refused this reading: keeping it would only fail again.
        report.outcome = StoreOutcome::Refused;
        report.tell = true;
        return report;
    }
    dropDeadConnection(fault);
    // Older readings held in memory go into the outbox before this one.
    if (keepHeld(report.keepFault)) {
        Outbox* box = outbox(true, report.keepFault);
        if (box && box->keep(reading, destination_, report.keepFault)) {
            report.outcome = StoreOutcome::KeptLocally;
            report.tell = !troubleTold_;
            troubleTold_ = true;
            return report;
        }
    }
    if (report.keepFault.detail.find(outboxPath_) == std::string::npos)
        report.keepFault.detail = outboxPath_ + ": " + report.keepFault.detail;
    // Not even this computer can keep it: said every time, and tried again before the end.
    held_.push_back({reading, destination_});
    report.outcome = StoreOutcome::NotKept;
    report.tell = true;
    return report;
}

} // namespace norvex::history
