// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Finds the serial devices present and what the system knows about them: the stable name under
// /dev/serial/by-id, the driver, and for a USB adapter its vendor, product and serial number.
// Everything is read below a root folder ("/" for the real system), so that tests can lay out a
// device and sysfs tree of their own.

#include <optional>
#include <string>
#include <vector>

namespace norvex::link {

struct SerialDevice {
    std::string path;       // "/dev/ttyUSB0" (as the system names it, without the root folder)
    std::string name;       // "ttyUSB0"
    std::string stableName; // "/dev/serial/by-id/usb-..."; empty when the device has none
    std::string driver;     // "ftdi_sio", "cdc_acm", "serial8250", ...; empty when unknown
    bool usb = false;
    std::string vendorId;  // "0403" (USB only)
    std::string productId; // "6001"
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    bool accessible = false; // this user may open it for reading and writing
};

class PortDiscovery {
public:
    explicit PortDiscovery(std::string root = "/");

    // Every serial device present, sorted by name: each tty with a device behind it in sysfs
    // and a node in /dev (a UART the kernel reserved a name for but found no chip behind is
    // left out).
    std::vector<SerialDevice> scan() const;

    // The device a path leads to (a /dev node, a by-id name or any other link to one); nothing
    // when the path leads nowhere. A path that is no device the scan knows (a pseudo-terminal)
    // is described with its path, name and access alone.
    std::optional<SerialDevice> describe(const std::string& path) const;

    // The path as the system would resolve it (links followed, without the root folder);
    // empty when it leads nowhere.
    std::string resolve(const std::string& path) const;

    // One line for people: "/dev/ttyUSB0  FTDI FT232R USB UART (0403:6001, serial A1B2C3),
    // ftdi_sio".
    static std::string summary(const SerialDevice& device);

    const std::string& root() const { return root_; }

private:
    std::string inRoot(const std::string& path) const;
    std::optional<SerialDevice> fromSysfs(const std::string& name) const;

    std::string root_;
};

} // namespace norvex::link
