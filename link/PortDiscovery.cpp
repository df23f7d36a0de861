// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortDiscovery.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

#include <fcntl.h>
#include <unistd.h>

namespace norvex::link {

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute, without surrounding white space; empty when unreadable.
std::string attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

bool hasPrefix(const std::string& s, const char* prefix) {
    return s.rfind(prefix, 0) == 0;
}

// Names a USB adapter's node may have in /dev even where sysfs is not visible (a container).
bool usbSerialName(const std::string& name) {
    return hasPrefix(name, "ttyUSB") || hasPrefix(name, "ttyACM");
}

} // namespace

PortDiscovery::PortDiscovery(std::string root) : root_(std::move(root)) {
    while (root_.size() > 1 && root_.back() == '/')
        root_.pop_back();
    // Not `root_ = "/"`: GCC 12 at -O3 takes that assignment for an overlapping copy.
    if (root_.empty()) root_.push_back('/');
}

std::string PortDiscovery::inRoot(const std::string& path) const {
    if (root_ == "/") return path;
    return root_ + (path.empty() || path.front() != '/' ? "/" : "") + path;
}

std::string PortDiscovery::resolve(const std::string& path) const {
    std::error_code ec;
    const fs::path real = fs::canonical(inRoot(path), ec);
    if (ec) return {};
    if (root_ == "/") return real.string();
    const fs::path base = fs::canonical(root_, ec);
    if (ec) return {};
    const std::string r = real.string(), b = base.string();
    if (r.size() < b.size() || r.compare(0, b.size(), b) != 0) return {}; // leads out of the tree
    const std::string rest = r.substr(b.size());
    return rest.empty() ? "/" : rest;
}

std::optional<SerialDevice> PortDiscovery::fromSysfs(const std::string& name) const {
    const fs::path classDir = fs::path(inRoot("/sys/class/tty")) / name;
    const fs::path deviceLink = classDir / "device";
    // Consoles and pseudo-terminals have no device behind them; a UART name the kernel reserved
    // without finding a chip has type 0 (unknown). Both are told apart before any link is
    // followed: most of the names in /sys/class/tty are of these kinds.
    if (!present(deviceLink)) return std::nullopt;
    if (attribute(classDir / "type") == "0") return std::nullopt;
    std::error_code ec;
    const fs::path device = fs::canonical(deviceLink, ec);
    if (ec) return std::nullopt;

    SerialDevice d;
    d.name = name;
    d.path = "/dev/" + name;
    const fs::path sysRoot = fs::canonical(inRoot("/sys"), ec);
    if (ec) return d;
    auto insideSys = [&](const fs::path& p) {
        const std::string s = p.string(), b = sysRoot.string();
        return s.size() > b.size() && s.compare(0, b.size(), b) == 0;
    };
    // The driver: the serial core's own layer ("port", "ctrl") sits between the tty and the
    // device that has the real driver.
    for (fs::path p = device; insideSys(p); p = p.parent_path()) {
        const fs::path drv = fs::canonical(p / "driver", ec);
        if (ec) continue;
        const std::string n = drv.filename().string();
        if (n == "port" || n == "ctrl") continue;
        d.driver = n;
        break;
    }
    // A USB adapter: the USB device above the interface carries the descriptors.
    for (fs::path p = device; insideSys(p); p = p.parent_path()) {
        if (present(p / "idVendor") && present(p / "idProduct")) {
            d.usb = true;
            d.vendorId = attribute(p / "idVendor");
            d.productId = attribute(p / "idProduct");
            d.manufacturer = attribute(p / "manufacturer");
            d.product = attribute(p / "product");
            d.serialNumber = attribute(p / "serial");
            break;
        }
    }
    return d;
}

std::vector<SerialDevice> PortDiscovery::scan() const {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(inRoot("/sys/class/tty"), ec))
        names.insert(e.path().filename().string());
    for (const auto& e : fs::directory_iterator(inRoot("/dev"), ec)) {
        const std::string n = e.path().filename().string();
        if (usbSerialName(n)) names.insert(n);
    }

    // Stable names: /dev/serial/by-id/NAME -> ../../ttyUSB0.
    std::vector<std::pair<std::string, std::string>> byId; // target, link
    for (const auto& e : fs::directory_iterator(inRoot("/dev/serial/by-id"), ec)) {
        const std::string link = "/dev/serial/by-id/" + e.path().filename().string();
        const std::string target = resolve(link);
        if (!target.empty()) byId.emplace_back(target, link);
    }
    std::sort(byId.begin(), byId.end());

    std::vector<SerialDevice> found;
    for (const std::string& name : names) {
        if (!present(inRoot("/dev/" + name))) continue; // no node: unplugged, or never made
        std::optional<SerialDevice> d = fromSysfs(name);
        if (!d) {
            if (!usbSerialName(name)) continue;
            d = SerialDevice{};
            d->name = name;
            d->path = "/dev/" + name;
        }
        for (const auto& [target, link] : byId) {
            if (target == d->path) {
                d->stableName = link;
                break;
            }
        }
        d->accessible = ::faccessat(AT_FDCWD, inRoot(d->path).c_str(), R_OK | W_OK, AT_EACCESS) == 0;
        found.push_back(std::move(*d));
    }
    return found;
}

std::optional<SerialDevice> PortDiscovery::describe(const std::string& path) const {
    const std::string target = resolve(path);
    if (target.empty()) return std::nullopt;
    for (SerialDevice& d : scan())
        if (d.path == target) return std::move(d);
    SerialDevice d;
    d.path = target;
    d.name = fs::path(target).filename().string();
    d.accessible = ::faccessat(AT_FDCWD, inRoot(target).c_str(), R_OK | W_OK, AT_EACCESS) == 0;
    return d;
}

std::string PortDiscovery::summary(const SerialDevice& d) {
    std::string text = d.path;
    std::string what;
    if (d.usb) {
        what = d.manufacturer;
        if (!d.product.empty()) what += (what.empty() ? "" : " ") + d.product;
        std::string ids = d.vendorId + ":" + d.productId;
        if (!d.serialNumber.empty()) ids += ", serial " + d.serialNumber;
        what += (what.empty() ? "USB " : " ") + std::string("(") + ids + ")";
    }
    if (!d.driver.empty()) what += (what.empty() ? "" : ", ") + d.driver;
    if (!what.empty()) text += "  " + what;
    return text;
}

} // namespace norvex::link
