// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortMap.h"

#include <cstdlib>

namespace norvex::link {

PortMap::PortMap() {
    for (int i = 0; i < PORT_COUNT; ++i)
        paths_[static_cast<std::size_t>(i)] = defaultPath(i);
}

std::string PortMap::portName(int portNumber) {
    return "COM" + std::to_string(portNumber + 1);
}

std::string PortMap::defaultPath(int portNumber) {
    return "/dev/ttyUSB" + std::to_string(portNumber);
}

void PortMap::loadEnvironment() {
    for (int i = 0; i < PORT_COUNT; ++i) {
        const std::string name = "NORVEX_" + portName(i);
        if (const char* value = std::getenv(name.c_str()); value != nullptr && *value != '\0')
            set(i, value, PortOrigin::Environment);
    }
}

bool PortMap::parseOverride(const std::string& assignment, std::string& error) {
    const auto eq = assignment.find('=');
    const std::string name = assignment.substr(0, eq);
    if (eq == std::string::npos || name.size() != 4 || name.compare(0, 3, "COM") != 0 || name[3] < '1' ||
        name[3] > '4') {
        error = "expected COMn=PATH with n from 1 to 4, got \"" + assignment + "\"";
        return false;
    }
    const std::string path = assignment.substr(eq + 1);
    if (path.empty()) {
        error = "no device path given for " + name;
        return false;
    }
    set(name[3] - '1', path);
    return true;
}

void PortMap::set(int portNumber, const std::string& path, PortOrigin origin) {
    if (portNumber < 0 || portNumber >= PORT_COUNT) return;
    paths_[static_cast<std::size_t>(portNumber)] = path;
    origins_[static_cast<std::size_t>(portNumber)] = origin;
}

bool PortMap::assign(int portNumber, const std::string& path) {
    const PortOrigin now = origin(portNumber);
    if (portNumber < 0 || portNumber >= PORT_COUNT || now == PortOrigin::Environment ||
        now == PortOrigin::CommandLine)
        return false;
    if (path.empty())
        set(portNumber, defaultPath(portNumber), PortOrigin::Default);
    else
        set(portNumber, path, PortOrigin::Assigned);
    return true;
}

PortOrigin PortMap::origin(int portNumber) const {
    if (portNumber < 0 || portNumber >= PORT_COUNT) return PortOrigin::Default;
    return origins_[static_cast<std::size_t>(portNumber)];
}

std::string PortMap::devicePath(int portNumber) const {
    if (portNumber < 0 || portNumber >= PORT_COUNT) return {};
    return paths_[static_cast<std::size_t>(portNumber)];
}

} // namespace norvex::link
