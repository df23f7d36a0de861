// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The service history as the program uses it: the store named by a URL (SQLite by default,
// or a shared PostgreSQL server), with a local outbox for readings that no history has taken
// yet. A reading is kept until a history has it: whatever the trouble (a lost server, a full
// disk, a role without rights, a history not set up), it waits in the outbox, bound for the
// history it was made for, and is sent there before the next reading, once. Only a reading
// whose content the history refuses is not kept; and when even the outbox cannot be written,
// the reading is held in memory until the program ends and said to be not kept.

#include "history/HistoryStore.h"
#include "history/HistoryUrl.h"
#include "history/Outbox.h"

#include <memory>
#include <string>
#include <vector>

namespace norvex::history {

// The user's data folder for Norvex: $XDG_DATA_HOME/norvex, else ~/.local/share/norvex.
std::string dataFolder();
// The user's state folder for Norvex (the outbox): $XDG_STATE_HOME/norvex, else
// ~/.local/state/norvex.
std::string stateFolder();
// "sqlite:" + dataFolder() + "/history.sqlite".
std::string defaultHistoryUrl();

// The history setting of its own (norvex.ini stays as it is): $XDG_CONFIG_HOME/norvex/history.conf,
// else ~/.config/norvex/history.conf, one line "url=URL".
std::string historySettingsPath();
// The URL chosen there; defaultHistoryUrl() when none is. Anything there but a readable
// regular file is not read; `warning` (when given) then says why.
std::string configuredHistoryUrl(std::string* warning = nullptr);
// Writes the choice, readable by the user alone (the URL may hold a password); false with the
// reason when the file cannot be written.
[[nodiscard]] bool saveHistoryUrl(const std::string& url, std::string& error);

// Opens the store named by the URL. Null with the fault when it cannot be used now.
std::unique_ptr<HistoryStore> openStore(const std::string& url, Fault& fault, OpenMode mode = OpenMode::Use);

enum class StoreOutcome {
    Stored,      // in the history
    KeptLocally, // waits in the outbox; sent later
    NotKept,     // neither the history nor the outbox took it: held in memory until the program ends
    Refused,     // the history refused the reading's content: not kept
};

struct StoreReport {
    StoreOutcome outcome = StoreOutcome::Stored;
    Fault fault;       // why it is not in the history
    Fault keepFault;   // why the outbox did not take it either (NotKept)
    bool tell = false; // the operator has not been told of this trouble yet
    int sent = 0;      // kept readings delivered on the way
};

// Readings not in their history yet.
struct Waiting {
    std::size_t here = 0;      // in the outbox, bound for this history
    std::size_t elsewhere = 0; // in the outbox, bound for other histories
    std::size_t setAside = 0;  // in the outbox, refused by their history
    std::size_t held = 0;      // in memory only: lost when the program ends
};

class History {
public:
    // The outbox file is stateFolder()/outbox.sqlite unless given.
    History(std::string url, std::string outboxPath = {});
    ~History();
    History(const History&) = delete;
    History& operator=(const History&) = delete;

    const std::string& url() const { return url_; }
    const std::string& outboxPath() const { return outboxPath_; }
    // Another history from now on. Readings kept for the earlier one stay bound for it.
    void reopen(const std::string& url);

    // Sends what waits for this history, then stores the reading (a failure to send what waits
    // never keeps the reading from being tried).
    StoreReport store(const Reading& reading);
    // Sends what waits for this history; the number sent. False (with the fault) when the
    // history is still away.
    [[nodiscard]] bool flush(int& sent, Fault& fault);
    // Puts readings held in memory into the outbox where it can be written now.
    void keepHeld();
    Waiting waiting();

    // The history store for queries, connected on demand; null (with the fault) when away.
    HistoryStore* store(Fault& fault);

private:
    struct Held {
        Reading reading;
        std::string destination;
    };
    Outbox* outbox(bool create, Fault& fault);
    [[nodiscard]] bool keepHeld(Fault& fault);
    // Sends one reading; false when the history is away (fault set). A reading the history
    // refuses is set aside and counts as done.
    bool send(HistoryStore& target, const Reading& reading, bool fromOutbox, Fault& fault);
    void dropDeadConnection(const Fault& fault);

    std::string url_;
    std::string destination_;
    std::string outboxPath_;
    std::unique_ptr<HistoryStore> store_;
    std::unique_ptr<Outbox> outbox_;
    std::vector<Held> held_;
    bool troubleTold_ = false;
};

} // namespace norvex::history
