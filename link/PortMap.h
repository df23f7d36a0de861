// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// "COM1".."COM4" name device paths. Defaults are /dev/ttyUSB0../dev/ttyUSB3; a device assigned in
// the ports dialog (PortAssignments) replaces a default, the environment (NORVEX_COM1..NORVEX_COM4)
// overrides both, and the command line (--port COM1=PATH) overrides everything.

#include <array>
#include <string>

namespace norvex::link {

// Where a COM entry's device path came from.
enum class PortOrigin { Default, Assigned, Environment, CommandLine };

class PortMap {
public:
    static constexpr int PORT_COUNT = 4;

    PortMap();
    // Reads NORVEX_COM1..NORVEX_COM4.
    void loadEnvironment();
    // Parses "COMn=PATH" (n 1..4). False with a reason when malformed.
    bool parseOverride(const std::string& assignment, std::string& error);
    void set(int portNumber, const std::string& path, PortOrigin origin = PortOrigin::CommandLine);
    // A device assigned in the ports dialog; an empty path gives the entry its default back.
    // Ignored for an entry the environment or the command line has decided (false).
    bool assign(int portNumber, const std::string& path);
    PortOrigin origin(int portNumber) const;

    // Device path for portNumber 0..3; empty for any other number.
    std::string devicePath(int portNumber) const;
    static std::string portName(int portNumber); // "COM1".."COM4"
    static std::string defaultPath(int portNumber);

private:
    std::array<std::string, PORT_COUNT> paths_;
    std::array<PortOrigin, PORT_COUNT> origins_{};
};

} // namespace norvex::link
