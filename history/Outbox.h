// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Readings that no history has taken yet, kept on this computer in a SQLite file of the user's
// state ($XDG_STATE_HOME/norvex/outbox.sqlite, readable by the user alone). Each remembers the
// history it is bound for and goes only there. Several programs may share the file: keeping
// and removing are idempotent, and a reading the history refused for its content stays, set
// aside, instead of blocking the others.

#include "history/Database.h"
#include "history/Reading.h"

#include <memory>
#include <string>
#include <vector>

namespace norvex::history {

class Outbox {
public:
    // Opens the file; `create`: makes it (and its folder) when missing. Null with the fault.
    static std::unique_ptr<Outbox> open(const std::string& path, bool create, Fault& fault);

    // Keeps the reading for `destination` (a destinationKey()); keeping it twice keeps it once.
    [[nodiscard]] bool keep(const Reading& reading, const std::string& destination, Fault& fault);
    // Ids of the readings bound for `destination` and not set aside, oldest first.
    [[nodiscard]] bool bound(const std::string& destination, std::vector<std::string>& ids, Fault& fault);
    // One kept reading; false (fault None) when there is none of that id.
    [[nodiscard]] bool reading(const std::string& id, Reading& out, Fault& fault);
    [[nodiscard]] bool remove(const std::string& id, Fault& fault);
    // Sets a reading aside: its history refused it; it is not sent again.
    [[nodiscard]] bool setAside(const std::string& id, const std::string& why, Fault& fault);

    struct Counts {
        std::size_t here = 0;      // bound for the destination asked about
        std::size_t elsewhere = 0; // bound for other histories
        std::size_t setAside = 0;  // refused by their history
    };
    [[nodiscard]] bool counts(const std::string& destination, Counts& out, Fault& fault);

private:
    explicit Outbox(std::unique_ptr<Database> db) : db_(std::move(db)) {}
    std::unique_ptr<Database> db_;
};

} // namespace norvex::history
