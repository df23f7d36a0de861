// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A device and sysfs tree in a temporary folder, laid out as the kernel and udev lay out /dev and
// /sys, for the port discovery to read instead of the real ones.

#include <filesystem>
#include <fstream>
#include <string>

#include <stdlib.h>

namespace norvex::test {

namespace fs = std::filesystem;

inline void writeTreeFile(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

inline void linkTo(const fs::path& link, const fs::path& target) {
    fs::create_directories(link.parent_path());
    fs::remove(link);
    fs::create_symlink(fs::relative(target, link.parent_path()), link);
}

// A root folder with /dev and /sys as the kernel and udev lay them out.
class FakeTree {
public:
    FakeTree() {
        char name[] = "/tmp/norvex-ports-XXXXXX";
        root_ = ::mkdtemp(name);
        fs::permissions(root_, fs::perms(0755)); // an unprivileged child walks it too
        fs::create_directories(root_ / "dev");
        fs::create_directories(root_ / "sys/class/tty");
    }
    ~FakeTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    std::string root() const { return root_.string(); }
    fs::path operator/(const std::string& p) const { return root_ / p; }

    struct Usb {
        std::string vid, pid, manufacturer, product, serial;
    };

    // A USB serial converter (ftdi_sio, ch341, ...): the tty's device is the usb-serial port
    // below the interface.
    void addUsbSerial(const std::string& name, const std::string& bus, const std::string& driver,
                      const Usb& usb, const std::string& byId = {}) {
        const fs::path usbDev = root_ / "sys/devices/pci0000:00/usb1" / bus;
        describeUsb(usbDev, usb);
        const fs::path port = usbDev / (bus + ":1.0") / name;
        fs::create_directories(port);
        linkTo(port / "driver", root_ / "sys/bus/usb-serial/drivers" / driver);
        fs::create_directories(root_ / "sys/bus/usb-serial/drivers" / driver);
        addTty(name, port, byId);
    }

    // A CDC ACM device: the tty's device is the USB interface itself.
    void addAcm(const std::string& name, const std::string& bus, const Usb& usb,
                const std::string& byId = {}) {
        const fs::path usbDev = root_ / "sys/devices/pci0000:00/usb1" / bus;
        describeUsb(usbDev, usb);
        const fs::path iface = usbDev / (bus + ":1.0");
        fs::create_directories(iface);
        fs::create_directories(root_ / "sys/bus/usb/drivers/cdc_acm");
        linkTo(iface / "driver", root_ / "sys/bus/usb/drivers/cdc_acm");
        addTty(name, iface, byId);
    }

    // A UART on the main board, behind the serial core's port layer; type 0 means no chip.
    void addUart(const std::string& name, int type) {
        const fs::path dev = root_ / "sys/devices/platform/serial8250" / ("serial8250:0." + name.substr(4));
        const fs::path port = dev / ("serial8250:0." + name.substr(4) + ".0");
        fs::create_directories(port);
        fs::create_directories(root_ / "sys/bus/platform/drivers/serial8250");
        fs::create_directories(root_ / "sys/bus/serial-base/drivers/port");
        linkTo(dev / "driver", root_ / "sys/bus/platform/drivers/serial8250");
        linkTo(port / "driver", root_ / "sys/bus/serial-base/drivers/port");
        addTty(name, port, {});
        writeTreeFile(root_ / "sys/class/tty" / name / "type", std::to_string(type) + "\n");
    }

    // A virtual console: a class entry without a device.
    void addConsole(const std::string& name) {
        fs::create_directories(root_ / "sys/devices/virtual/tty" / name);
        linkTo(root_ / "sys/class/tty" / name, root_ / "sys/devices/virtual/tty" / name);
        writeTreeFile(root_ / "dev" / name, "");
    }

    // The adapter is pulled: udev removes the node and the stable name, the kernel the class entry.
    void unplug(const std::string& name) {
        fs::remove(root_ / "dev" / name);
        fs::remove(root_ / "sys/class/tty" / name);
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root_ / "dev/serial/by-id", ec))
            if (fs::read_symlink(e.path()).filename() == name) fs::remove(e.path());
    }

private:
    void describeUsb(const fs::path& dir, const Usb& usb) {
        writeTreeFile(dir / "idVendor", usb.vid + "\n");
        writeTreeFile(dir / "idProduct", usb.pid + "\n");
        if (!usb.manufacturer.empty()) writeTreeFile(dir / "manufacturer", usb.manufacturer + "\n");
        if (!usb.product.empty()) writeTreeFile(dir / "product", usb.product + "\n");
        if (!usb.serial.empty()) writeTreeFile(dir / "serial", usb.serial + "\n");
    }

    void addTty(const std::string& name, const fs::path& device, const std::string& byId) {
        const fs::path classDir = device / "tty" / name;
        fs::create_directories(classDir);
        linkTo(classDir / "device", device);
        linkTo(root_ / "sys/class/tty" / name, classDir);
        writeTreeFile(root_ / "dev" / name, "");
        fs::permissions(root_ / "dev" / name, fs::perms(0666));
        if (!byId.empty()) linkTo(root_ / "dev/serial/by-id" / byId, root_ / "dev" / name);
    }

    fs::path root_;
};

inline const FakeTree::Usb FTDI{"0403", "6001", "FTDI", "FT232R USB UART", "A10KX3B9"};
inline const FakeTree::Usb CH340{"1a86", "7523", "", "USB Serial", ""};
inline const FakeTree::Usb ACM{"2341", "0043", "Arduino (www.arduino.cc)", "", "85734323231351F0E1C1"};
inline const char* const FTDI_ID = "usb-FTDI_FT232R_USB_UART_A10KX3B9-if00-port0";
inline const char* const ACM_ID = "usb-Arduino__www.arduino.cc__85734323231351F0E1C1-if00";

} // namespace norvex::test
