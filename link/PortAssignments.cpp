// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortAssignments.h"

#include "ConfigFile.h"

#include <cstdlib>
#include <sstream>

namespace norvex::link {

namespace {

// Far more than four lines of paths ever need; anything larger is not ours.
constexpr std::size_t FILE_LIMIT = 64 * 1024;
constexpr std::size_t PATH_LIMIT = 4096;

const std::string NONE;

bool pathBytesOk(const std::string& path) {
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F) return false;
    return true;
}

} // namespace

std::string PortAssignments::defaultFile() {
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
        return std::string(xdg) + "/norvex/ports.conf";
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0')
        return std::string(home) + "/.config/norvex/ports.conf";
    return {};
}

bool PortAssignments::load(const std::string& file, std::string& warning) {
    paths_ = {};
    std::string text, why;
    switch (readConfigFile(file, FILE_LIMIT, text, why)) {
    case ConfigRead::Missing:
        return true; // nothing assigned yet
    case ConfigRead::Refused:
        warning = why;
        return false;
    case ConfigRead::Read:
        break;
    }
    std::array<std::string, PortMap::PORT_COUNT> found;
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto eq = line.find('=');
        const std::string key = line.substr(0, eq);
        const std::string path = eq == std::string::npos ? "" : line.substr(eq + 1);
        const bool keyOk = key.size() == 4 && key.compare(0, 3, "COM") == 0 && key[3] >= '1' && key[3] <= '4';
        if (!keyOk || path.empty() || path[0] != '/' || path.size() > PATH_LIMIT || !pathBytesOk(path) ||
            !found[static_cast<std::size_t>(key[3] - '1')].empty()) {
            warning = file + " line " + std::to_string(number) +
                      " is damaged (expected one COMn=/path per entry): the file is ignored.";
            return false;
        }
        found[static_cast<std::size_t>(key[3] - '1')] = path;
    }
    paths_ = found;
    return true;
}

bool PortAssignments::save(const std::string& file, std::string& error) const {
    std::string text = "# Norvex: the serial device behind each COM entry, by stable name.\n";
    for (int i = 0; i < PortMap::PORT_COUNT; ++i)
        if (!assigned(i).empty()) text += PortMap::portName(i) + "=" + assigned(i) + "\n";

    return replaceConfigFile(file, text, 0644, error);
}

void PortAssignments::assign(int portNumber, const std::string& path) {
    if (portNumber < 0 || portNumber >= PortMap::PORT_COUNT) return;
    // A path the file could not hold on one line is not kept.
    if (!path.empty() && (path[0] != '/' || path.size() > PATH_LIMIT || !pathBytesOk(path))) return;
    paths_[static_cast<std::size_t>(portNumber)] = path;
}

const std::string& PortAssignments::assigned(int portNumber) const {
    if (portNumber < 0 || portNumber >= PortMap::PORT_COUNT) return NONE;
    return paths_[static_cast<std::size_t>(portNumber)];
}

void PortAssignments::applyTo(PortMap& ports) const {
    for (int i = 0; i < PortMap::PORT_COUNT; ++i)
        if (!assigned(i).empty()) (void)ports.assign(i, assigned(i));
}

} // namespace norvex::link
