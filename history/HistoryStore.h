// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The history in one database: the schema (with its version, migrated forward when opened),
// a reading stored in one transaction, and the queries the window, the CSV export and the
// charts need. The same statements serve SQLite and PostgreSQL.

#include "history/Database.h"
#include "history/Reading.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace norvex::history {

// The schema this program writes. Version 1 kept the readings without their decoded values.
inline constexpr int SCHEMA_VERSION = 2;

struct UnitSummary {
    std::string serial, maker, model;
    std::int64_t lastVisit = 0;     // seconds since 1970
    std::string lastVisitText;      // local time of the last visit, "YYYY-MM-DD HH:MM:SS"
    std::optional<double> lastRate; // acceptance rate of the latest visit that read statistics
    int visits = 0;
};

struct VisitSummary {
    std::string id;
    std::int64_t takenAt = 0;
    std::string localTime; // "YYYY-MM-DD HH:MM:SS"
    std::string machine, program;
    int parts = 0;
    std::map<std::string, double> values; // filled by unitHistory()
};

// "YYYY-MM-DD HH:MM:SS" and back.
std::string localTimeText(const std::tm& t);
std::tm parseLocalTime(const std::string& text);

enum class PutResult { Stored, AlreadyStored, Failed };

// The detail of the NoSchema fault of a history that is not there at all (OpenMode::Read).
inline constexpr const char* NO_HISTORY = "no history there";

// What opening a history may change in it.
enum class OpenMode {
    // Storing and reading. A SQLite file is created or migrated as needed; a PostgreSQL server's
    // schema must be there at this program's version (--history-init sets it up), so that a
    // technician's role needs no more than SELECT and INSERT.
    Use,
    // --history-init: creates or migrates the schema on either; several at once wait in turn.
    Init,
    // Reading only (--history-csv): nothing is created or changed.
    Read,
};

class HistoryStore {
public:
    // Opens the history as `mode` allows: a schema missing or older than this program's is a
    // NoSchema fault where it may not be made, a newer one is refused (FaultKind::Schema). Null
    // with the fault when the database cannot be used.
    static std::unique_ptr<HistoryStore> open(std::unique_ptr<Database> db, Fault& fault,
                                              OpenMode mode = OpenMode::Use);

    // The whole reading in one transaction: the unit (added when new), the reading with its
    // raw records and its decoded values, with INSERT alone. A reading whose id is stored
    // already is left as it is (AlreadyStored), even when another program stores it at the
    // same moment. On a failure nothing of it remains.
    [[nodiscard]] PutResult put(const Reading& reading, Fault& fault);

    [[nodiscard]] bool units(std::vector<UnitSummary>& out, Fault& fault);
    // The unit's visits, oldest first, without values.
    [[nodiscard]] bool visits(const std::string& serial, std::vector<VisitSummary>& out, Fault& fault);
    // The unit's visits, oldest first, with the decoded values whose names are given (all when
    // names is empty).
    [[nodiscard]] bool unitHistory(const std::string& serial, const std::vector<std::string>& names,
                                   std::vector<VisitSummary>& out, Fault& fault);
    // The unit's history as CSV (see historyCsv()), handed to `write` a line at a time as the
    // values stream from the database; `visits` counts the lines after the header (none: the
    // unit is unknown and nothing was written). False when the database or `write` fails.
    [[nodiscard]] bool writeCsv(const std::string& serial,
                                const std::function<bool(const std::string&)>& write, std::size_t& visits,
                                Fault& fault);
    // One whole reading; false (fault None) when there is none of that id.
    [[nodiscard]] bool reading(const std::string& id, Reading& out, Fault& fault);
    // Ids of every reading, oldest first (the outbox sends them in this order).
    [[nodiscard]] bool readingIds(std::vector<std::string>& out, Fault& fault);
    // Removes a reading and its values (and its unit when that has no reading left).
    [[nodiscard]] bool remove(const std::string& id, Fault& fault);

    Database& database() { return *db_; }

private:
    explicit HistoryStore(std::unique_ptr<Database> db) : db_(std::move(db)) {}
    [[nodiscard]] bool prepare(OpenMode mode, Fault& fault);
    [[nodiscard]] bool create(Fault& fault);
    [[nodiscard]] bool migrate(int from, Fault& fault);
    [[nodiscard]] bool transaction(const std::function<bool(Fault&)>& body, Fault& fault);

    std::unique_ptr<Database> db_;
};

// The statements that made a version 1 database (tests migrate from it).
const std::vector<std::string>& schemaV1();

} // namespace norvex::history
