// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a history is: "sqlite:PATH" or "postgresql://USER@HOST/DB" (also "postgres://", any
// libpq URI), and how such a URL may be shown. A password in the URL is never shown: not in
// the URL as displayed, not in what the database library says about it.

#include <string>
#include <vector>

namespace norvex::history {

struct HistoryUrl {
    enum class Kind { Sqlite, Postgres } kind = Kind::Sqlite;
    std::string target; // the file path, or the conninfo URI as given
};
[[nodiscard]] bool parseHistoryUrl(const std::string& url, HistoryUrl& out, std::string& error);

// The URL as it may be shown: a password in it is left out.
std::string displayUrl(const std::string& url);

// True when the URL carries a password (in its user part or as password=...).
bool hasPassword(const std::string& url);

// `text` (a message of the database library, which may repeat the URL or parts of it) with the
// URL's password taken out. A message that would show a password too short to be taken out
// safely is replaced by a plain one.
std::string withoutSecrets(const std::string& text, const std::string& url);

// The history a reading is bound for, as the outbox keeps it: the URL without its password
// (changing the password is still the same history), a file by its absolute path.
std::string destinationKey(const std::string& url);

} // namespace norvex::history
