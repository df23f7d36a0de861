#pragma once
// The service history as the program uses it: the store named by a URL (SQLite by default,
// or a shared PostgreSQL server), with a local outbox for readings that could not be stored
// when they were made. A lost server or a full disk is told once; readings made meanwhile wait
// in the outbox (a SQLite file of the same schema, or memory when even that cannot be
// written) and are sent before the next reading, each exactly once thanks to its id.

#include "history/HistoryStore.h"

#include <memory>
#include <string>
#include <vector>

namespace norvex::history {

// "sqlite:PATH" or "postgresql://USER@HOST/DB" (also "postgres://", any libpq URI).
struct HistoryUrl {
    enum class Kind { Sqlite, Postgres } kind = Kind::Sqlite;
    std::string target; // the file path, or the conninfo URI as given
};
[[nodiscard]] bool parseHistoryUrl(const std::string& url, HistoryUrl& out, std::string& error);

// The URL as it may be shown: a password in it is left out.
std::string displayUrl(const std::string& url);

// The user's data folder for Norvex: $XDG_DATA_HOME/norvex, else ~/.local/share/norvex.
std::string dataFolder();
// "sqlite:" + dataFolder() + "/history.sqlite".
std::string defaultHistoryUrl();

// The history setting of its own (norvex.ini stays as it is): $XDG_CONFIG_HOME/norvex/history.conf,
// else ~/.config/norvex/history.conf, one line "url=URL".
std::string historySettingsPath();
// The URL chosen there; defaultHistoryUrl() when none is.
std::string configuredHistoryUrl();
// Writes the choice; false with the reason when the file cannot be written.
[[nodiscard]] bool saveHistoryUrl(const std::string& url, std::string& error);

// Opens the store named by the URL. Null with the fault when it cannot be used now.
std::unique_ptr<HistoryStore> openStore(const std::string& url, Fault& fault);

enum class StoreOutcome {
    Stored,      // in the history
    KeptLocally, // waits in the outbox; sent later
    Failed,      // refused for good (not kept): a bad reading or a history of another schema
};

struct StoreReport {
    StoreOutcome outcome = StoreOutcome::Stored;
    Fault fault;       // why it is not in the history (KeptLocally, Failed)
    bool tell = false; // the operator has not been told of this trouble yet
    int sent = 0;      // readings from the outbox delivered on the way
};

class History {
public:
    // The outbox file lives beside the user's data (dataFolder()/outbox.sqlite unless given).
    History(std::string url, std::string outboxPath = {});
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    const std::string& url() const { return url_; }
    // Another history from now on; what waits in the outbox goes there.
    void reopen(const std::string& url);

    // Sends what waits in the outbox, then stores the reading.
    StoreReport store(const Reading& reading);
    // Sends what waits in the outbox; the number sent. False when the history is still away.
    [[nodiscard]] bool flush(int& sent, Fault& fault);
    // Readings waiting to be sent (outbox and memory).
    std::size_t pending();

    // The history store for queries, connected on demand; null (with the fault) when away.
    HistoryStore* store(Fault& fault);

private:
    HistoryStore* outbox(Fault& fault);
    bool keep(const Reading& reading, Fault& fault);

    std::string url_;
    std::string outboxPath_;
    std::unique_ptr<HistoryStore> store_;
    std::unique_ptr<HistoryStore> outbox_;
    std::vector<Reading> memory_; // when the outbox cannot be written either
    bool troubleTold_ = false;
};

} // namespace norvex::history
