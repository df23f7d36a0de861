// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryUrl.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>

namespace norvex::history {

namespace {

// A secret shorter than this cannot be cut out of a message without cutting up its words.
constexpr std::size_t SHORTEST_SCRUBBED = 4;

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string percentDecoded(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hexValue(s[i + 1]) >= 0 && hexValue(s[i + 2]) >= 0) {
            out += static_cast<char>(hexValue(s[i + 1]) * 16 + hexValue(s[i + 2]));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// Where the user part of a URI is: after "://", up to the last '@' before the query. A
// password typed with a bare '@' or '/' in it still counts as part of the user part here, so
// that it is never shown even when the URL is malformed.
struct UserPart {
    std::size_t begin = std::string::npos, end = std::string::npos; // [begin, end) before the '@'
    std::size_t colon = std::string::npos;                          // user:password separator
};

UserPart userPart(const std::string& url) {
    UserPart u;
    const auto scheme = url.find("://");
    if (scheme == std::string::npos) return u;
    const std::size_t start = scheme + 3;
    const std::size_t query = url.find('?', start);
    const std::size_t limit = query == std::string::npos ? url.size() : query;
    const std::size_t at = url.rfind('@', limit == 0 ? 0 : limit - 1);
    if (at == std::string::npos || at < start) return u;
    u.begin = start;
    u.end = at;
    const std::size_t colon = url.find(':', start);
    if (colon != std::string::npos && colon < at) u.colon = colon;
    return u;
}

// The values of "password=" in the query (and in key=value text), each up to '&', ' ' or ';'.
std::vector<std::pair<std::size_t, std::size_t>> passwordParameters(const std::string& url) {
    std::vector<std::pair<std::size_t, std::size_t>> out;
    static const std::string KEY = "password=";
    for (std::size_t at = url.find(KEY); at != std::string::npos; at = url.find(KEY, at + 1)) {
        const std::size_t begin = at + KEY.size();
        const std::size_t end = url.find_first_of("&; ", begin);
        out.emplace_back(begin, end == std::string::npos ? url.size() : end);
    }
    return out;
}

std::vector<std::string> secretsOf(const std::string& url) {
    std::vector<std::string> raw;
    const UserPart u = userPart(url);
    if (u.colon != std::string::npos) raw.push_back(url.substr(u.colon + 1, u.end - u.colon - 1));
    for (const auto& [b, e] : passwordParameters(url))
        raw.push_back(url.substr(b, e - b));
    std::vector<std::string> out;
    for (const std::string& s : raw) {
        if (s.empty()) continue;
        out.push_back(s);
        // The forms a library may repeat it in: decoded, and each piece of a password that
        // held a bare '@' (the library takes the first '@' as the end of the user part).
        const std::string decoded = percentDecoded(s);
        if (decoded != s) out.push_back(decoded);
        std::size_t from = 0;
        for (std::size_t at = s.find('@'); at != std::string::npos; at = s.find('@', from)) {
            if (at > from) out.push_back(s.substr(from, at - from));
            from = at + 1;
        }
        if (from > 0 && from < s.size()) out.push_back(s.substr(from));
    }
    return out;
}

void replaceAll(std::string& text, const std::string& what, const std::string& with) {
    if (what.empty()) return;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

} // namespace

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
    error = "history URL \"" + displayUrl(url) + "\": expected sqlite:PATH or postgresql://USER@HOST/DB";
    return false;
}

std::string displayUrl(const std::string& url) {
    std::string out = url;
    // Query parameters first: their places come after the user part.
    const auto parameters = passwordParameters(out);
    for (auto it = parameters.rbegin(); it != parameters.rend(); ++it)
        out.replace(it->first, it->second - it->first, "...");
    const UserPart u = userPart(out);
    if (u.colon != std::string::npos) out.erase(u.colon, u.end - u.colon);
    // The password repeated anywhere else in a malformed URL.
    for (const std::string& secret : secretsOf(url))
        if (secret.size() >= SHORTEST_SCRUBBED) replaceAll(out, secret, "***");
    return out;
}

bool hasPassword(const std::string& url) {
    return !secretsOf(url).empty();
}

std::string withoutSecrets(const std::string& text, const std::string& url) {
    std::string out = text;
    replaceAll(out, url, displayUrl(url));
    std::vector<std::string> secrets = secretsOf(url);
    // Longest first, so that a piece never leaves the rest of a longer form behind.
    std::sort(secrets.begin(), secrets.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& s : secrets) {
        if (out.find(s) == std::string::npos) continue;
        if (s.size() < SHORTEST_SCRUBBED)
            return "the database's own message is not shown: it would show the password of the URL";
        replaceAll(out, s, "***");
    }
    return out;
}

std::string destinationKey(const std::string& url) {
    HistoryUrl parsed;
    std::string error;
    if (!parseHistoryUrl(url, parsed, error)) return displayUrl(url);
    if (parsed.kind == HistoryUrl::Kind::Postgres) return displayUrl(url);
    std::error_code ec;
    const std::filesystem::path absolute = std::filesystem::absolute(parsed.target, ec);
    return "sqlite:" + (ec ? parsed.target : absolute.lexically_normal().string());
}

} // namespace norvex::history
