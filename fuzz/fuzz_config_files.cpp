// SPDX-License-Identifier: GPL-3.0-or-later
// The settings files of our own on any content: ports.conf (the ports dialog's assignments)
// and history.conf (the history chosen in the window), read as the programs read them, then
// written and read back.
//
// Input: one byte choosing the file (even: ports.conf, odd: history.conf), then its content.

#include "FuzzTempDir.h"
#include "history/History.h"
#include "link/PortAssignments.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace norvex;

namespace {

[[noreturn]] void broken(const char* what, const std::string& detail) {
    std::fprintf(stderr, "settings file invariant broken: %s (%s)\n", what, detail.c_str());
    std::abort();
}

void writeAll(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
}

// The passwords of a URL, found as a reader of it would: after "user:" up to the last '@'
// before the query, and every "password=" value.
std::vector<std::string> secretsOf(const std::string& url) {
    std::vector<std::string> out;
    const auto scheme = url.find("://");
    if (scheme != std::string::npos) {
        const auto query = url.find('?', scheme + 3);
        const auto at = url.rfind('@', query == std::string::npos ? std::string::npos : query);
        const auto colon = url.find(':', scheme + 3);
        if (at != std::string::npos && at > scheme + 3 && colon < at)
            out.push_back(url.substr(colon + 1, at - colon - 1));
    }
    for (auto p = url.find("password="); p != std::string::npos; p = url.find("password=", p + 1)) {
        const auto end = url.find_first_of("&; ", p + 9);
        out.push_back(url.substr(p + 9, end == std::string::npos ? std::string::npos : end - p - 9));
    }
    return out;
}

bool pathOk(const std::string& p) {
    if (p.empty() || p[0] != '/' || p.size() > 4096) return false;
    for (unsigned char c : p)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

void portsFile(const std::string& dir, const std::uint8_t* data, std::size_t size) {
    const std::string file = dir + "/ports.conf";
    writeAll(file, data, size);
    link::PortAssignments a;
    a.assign(0, "/dev/left-over");
    std::string warning;
    const bool read = a.load(file, warning);
    for (int i = 0; i < link::PortMap::PORT_COUNT; ++i) {
        if (!read && !a.assigned(i).empty()) broken("a refused file assigned a port", a.assigned(i));
        if (read && !a.assigned(i).empty() && !pathOk(a.assigned(i)))
            broken("a path the file cannot hold", a.assigned(i));
    }
    if (read != warning.empty()) broken("a warning for a good file or none for a bad one", warning);
    if (!read && warning.find(file) == std::string::npos)
        broken("the warning does not name the file", warning);
    if (!read) return;
    // What was read is written and read back unchanged.
    const std::string again = dir + "/again.conf";
    std::string error;
    if (!a.save(again, error)) broken("save failed", error);
    link::PortAssignments b;
    if (!b.load(again, warning)) broken("a saved file is refused", warning);
    for (int i = 0; i < link::PortMap::PORT_COUNT; ++i)
        if (a.assigned(i) != b.assigned(i)) broken("the assignments changed on the way", a.assigned(i));
}

void historyFile(const std::uint8_t* data, std::size_t size) {
    const std::string file = history::historySettingsPath();
    writeAll(file, data, size);
    std::string warning;
    const std::string url = history::configuredHistoryUrl(&warning);
    const std::string content(reinterpret_cast<const char*>(data), size);
    if (url != history::defaultHistoryUrl() && content.find("url=" + url) == std::string::npos)
        broken("a URL the file does not hold", url);
    if (!warning.empty()) broken("a regular file was refused", warning);
    // However it is shown, a password in it is not (one of four characters or more: a shorter
    // one cannot be told apart from the rest of the text).
    const std::string shown = history::displayUrl(url);
    history::HistoryUrl parsed;
    std::string error;
    const bool parses = history::parseHistoryUrl(url, parsed, error);
    for (const std::string& secret : secretsOf(url))
        if (secret.size() >= 4 && shown.find(secret) != std::string::npos)
            broken("the password is shown", shown);
    if (!parses && url.rfind("sqlite:", 0) != 0 && error.find("\"" + shown + "\"") == std::string::npos)
        broken("the refusal shows the URL otherwise than as it is shown", error);
    // Saved, it reads back the same, and for this user alone.
    if (url.find_first_of("\r\n") != std::string::npos) return;
    if (!history::saveHistoryUrl(url, error)) broken("save failed", error);
    if (history::configuredHistoryUrl(&warning) != url) broken("the URL changed on the way", url);
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0 || (st.st_mode & 0777) != 0600)
        broken("the file is not the user's alone", file);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static norvex::fuzz::TempDir dir;
    static const bool configured = [] {
        ::setenv("XDG_CONFIG_HOME", dir.path.c_str(), 1);
        ::setenv("XDG_DATA_HOME", dir.path.c_str(), 1);
        std::filesystem::create_directories(dir.path + "/norvex");
        return true;
    }();
    (void)configured;
    if (size == 0) return 0;
    if (data[0] % 2 == 0)
        portsFile(dir.path, data + 1, size - 1);
    else
        historyFile(data + 1, size - 1);
    return 0;
}
