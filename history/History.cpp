#include "history/History.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace norvex::history {

bool parseHistoryUrl(const std::string& url, HistoryUrl& out, std::string& error) {
    if (url.rfind("sqlite:", 0) == 0) {
        std::string path = url.substr(7);
        // "sqlite:///abs/path" and "sqlite://rel" are read as the path they name.
        if (path.rfind("//", 0) == 0) path = path.substr(2);
        if (path.empty()) {
            error = "history URL \"" + url + "\": no file named after \"sqlite:\"";
            return false;
        }
        if (path[0] == '~') {
            const char* home = std::getenv("HOME");
            if (home && *home) path = std::string(home) + path.substr(1);
        }
        out = {HistoryUrl::Kind::Sqlite, path};
        return true;
    }
    if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
        out = {HistoryUrl::Kind::Postgres, url};
        return true;
    }
    error = "history URL \"" + url + "\": expected sqlite:PATH or postgresql://USER@HOST/DB";
    return false;
}

std::string displayUrl(const std::string& url) {
    std::string out = url;
    const auto scheme = out.find("://");
    if (scheme != std::string::npos) {
        const auto at = out.find('@', scheme + 3);
        const auto colon = out.find(':', scheme + 3);
        if (at != std::string::npos && colon != std::string::npos && colon < at) out.erase(colon, at - colon);
    }
    const auto pw = out.find("password=");
    if (pw != std::string::npos) {
        const auto end = out.find_first_of("&; ", pw);
        out.replace(pw, (end == std::string::npos ? out.size() : end) - pw, "password=...");
    }
    return out;
}

std::string dataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg == '/') return std::string(xdg) + "/norvex";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/norvex";
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

std::string configuredHistoryUrl() {
    std::ifstream in(historySettingsPath());
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("url=", 0) == 0 && line.size() > 4) return line.substr(4);
    }
    return defaultHistoryUrl();
}

bool saveHistoryUrl(const std::string& url, std::string& error) {
    const std::string path = historySettingsPath();
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << "url=" << url << "\n";
    out.close();
    if (!out) {
        error = "Cannot write " + path + ": " + std::strerror(errno ? errno : EIO);
        return false;
    }
    return true;
}

std::unique_ptr<HistoryStore> openStore(const std::string& url, Fault& fault) {
    HistoryUrl parsed;
    std::string error;
    if (!parseHistoryUrl(url, parsed, error)) {
        fault = {FaultKind::Invalid, error};
        return nullptr;
    }
    std::unique_ptr<Database> db = parsed.kind == HistoryUrl::Kind::Sqlite
                                       ? openSqlite(parsed.target, fault)
                                       : openPostgres(parsed.target, fault);
    if (!db) return nullptr;
    return HistoryStore::open(std::move(db), fault);
}

History::History(std::string url, std::string outboxPath)
    : url_(std::move(url)),
      outboxPath_(outboxPath.empty() ? dataFolder() + "/outbox.sqlite" : std::move(outboxPath)) {}

History::~History() = default;

void History::reopen(const std::string& url) {
    url_ = url;
    store_.reset();
    troubleTold_ = false;
}

HistoryStore* History::store(Fault& fault) {
    fault = {};
    if (!store_) store_ = openStore(url_, fault);
    return store_.get();
}

HistoryStore* History::outbox(Fault& fault) {
    if (!outbox_) outbox_ = openStore("sqlite:" + outboxPath_, fault);
    return outbox_.get();
}

bool History::keep(const Reading& reading, Fault& fault) {
    if (HistoryStore* box = outbox(fault)) {
        if (box->put(reading, fault) != PutResult::Failed) return true;
    }
    memory_.push_back(reading);
    return false;
}

std::size_t History::pending() {
    std::size_t n = memory_.size();
    Fault fault;
    std::vector<std::string> ids;
    // The outbox file is looked at only when it exists: asking must not create it.
    if (outbox_ && outbox_->readingIds(ids, fault)) n += ids.size();
    return n;
}

bool History::flush(int& sent, Fault& fault) {
    sent = 0;
    HistoryStore* target = store(fault);
    if (!target) return false;
    // Memory first: those are the oldest the outbox could not take.
    while (!memory_.empty()) {
        if (target->put(memory_.front(), fault) == PutResult::Failed) return false;
        memory_.erase(memory_.begin());
        ++sent;
    }
    if (!outbox_) {
        // An outbox left by an earlier run is sent as well.
        FILE* f = std::fopen(outboxPath_.c_str(), "rb");
        if (!f) return true;
        std::fclose(f);
        Fault ignored;
        if (!outbox(ignored)) return true;
    }
    std::vector<std::string> ids;
    Fault boxFault;
    if (!outbox_->readingIds(ids, boxFault)) return true;
    for (const std::string& id : ids) {
        Reading r;
        if (!outbox_->reading(id, r, boxFault)) continue;
        // Stored first, removed from the outbox after: a failure in between sends it again,
        // and the id makes that second sending store nothing.
        if (target->put(r, fault) == PutResult::Failed) return false;
        ++sent;
        (void)outbox_->remove(id, boxFault);
    }
    fault = {};
    return true;
}

StoreReport History::store(const Reading& reading) {
    StoreReport report;
    Fault fault;
    if (flush(report.sent, fault) && store_->put(reading, fault) != PutResult::Failed) {
        troubleTold_ = false;
        return report;
    }
    report.fault = fault;
    if (fault.kind == FaultKind::Invalid && store_) {
        // The history itself refused this reading: keeping it would only fail again.
        report.outcome = StoreOutcome::Failed;
        report.tell = true;
        return report;
    }
    // A dead connection or a history of another schema is opened afresh next time.
    if (store_ && (!store_->database().connected() || fault.kind == FaultKind::Schema)) store_.reset();
    Fault keptFault;
    (void)keep(reading, keptFault);
    report.outcome = StoreOutcome::KeptLocally;
    report.tell = !troubleTold_;
    troubleTold_ = true;
    return report;
}

} // namespace norvex::history
