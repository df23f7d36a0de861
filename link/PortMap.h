#pragma once
// "COM1".."COM4" name device paths. Defaults are /dev/ttyUSB0../dev/ttyUSB3; the environment
// (NORVEX_COM1..NORVEX_COM4) overrides them, and the command line (--port COM1=PATH) overrides
// both.

#include <array>
#include <string>

namespace norvex::link {

class PortMap {
public:
    static constexpr int PORT_COUNT = 4;

    PortMap();
    // Reads NORVEX_COM1..NORVEX_COM4.
    void loadEnvironment();
    // Parses "COMn=PATH" (n 1..4). False with a reason when malformed.
    bool parseOverride(const std::string& assignment, std::string& error);
    void set(int portNumber, const std::string& path);

    // Device path for portNumber 0..3; empty for any other number.
    std::string devicePath(int portNumber) const;
    static std::string portName(int portNumber); // "COM1".."COM4"
    static std::string defaultPath(int portNumber);

private:
    std::array<std::string, PORT_COUNT> paths_;
};

} // namespace norvex::link
