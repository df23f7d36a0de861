// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortListing.h"

#include "PortDiagnosis.h"

#include <sys/stat.h>

namespace norvex::link {

std::vector<int> entriesLeadingTo(const PortDiscovery& discovery, const PortMap& ports,
                                  const SerialDevice& device) {
    std::vector<int> entries;
    for (int i = 0; i < PortMap::PORT_COUNT; ++i) {
        const std::string target = discovery.resolve(ports.devicePath(i));
        if (!target.empty() && target == device.path) entries.push_back(i);
    }
    return entries;
}

std::string originText(const PortMap& ports, int portNumber) {
    switch (ports.origin(portNumber)) {
    case PortOrigin::Default:
        return "default";
    case PortOrigin::Assigned:
        return "assigned";
    case PortOrigin::Environment:
        return "NORVEX_" + PortMap::portName(portNumber);
    case PortOrigin::CommandLine:
        return "--port";
    }
    return {};
}

std::string portListing(const PortDiscovery& discovery, const PortMap& ports) {
    std::string text;
    const std::vector<SerialDevice> devices = discovery.scan();
    if (devices.empty()) text += "No serial device is present.\n";
    for (const SerialDevice& d : devices) {
        text += d.path + "\n";
        if (!d.stableName.empty()) text += "  stable name  " + d.stableName + "\n";
        if (!d.driver.empty()) text += "  driver       " + d.driver + "\n";
        if (d.usb) {
            std::string usb = d.vendorId + ":" + d.productId;
            if (!d.manufacturer.empty()) usb += "  " + d.manufacturer;
            if (!d.product.empty()) usb += (d.manufacturer.empty() ? "  " : " ") + d.product;
            if (!d.serialNumber.empty()) usb += ", serial " + d.serialNumber;
            text += "  USB          " + usb + "\n";
        }
        std::string entries;
        for (int i : entriesLeadingTo(discovery, ports, d))
            entries +=
                (entries.empty() ? "" : ", ") + PortMap::portName(i) + " (" + originText(ports, i) + ")";
        text += "  COM entry    " + (entries.empty() ? std::string("none") : entries) + "\n";
        if (d.accessible) {
            text += "  access       this user may open it\n";
        } else {
            std::string group;
            struct stat st {};
            const std::string node = discovery.root() == "/" ? d.path : discovery.root() + d.path;
            if (::stat(node.c_str(), &st) == 0) group = PortDiagnosis::groupName(st.st_gid);
            text += "  access       this user may not open it";
            if (!group.empty() && group != "root")
                text += " (group " + group + "; join it with: sudo usermod -aG " + group +
                        " $USER, then log in again)";
            text += "\n";
        }
    }
    text += "\n";
    for (int i = 0; i < PortMap::PORT_COUNT; ++i) {
        const std::string path = ports.devicePath(i);
        const std::string target = discovery.resolve(path);
        text += PortMap::portName(i) + "  " + path + " (" + originText(ports, i) + ")";
        if (target.empty())
            text += ": not present";
        else if (target != path)
            text += " -> " + target;
        text += "\n";
    }
    return text;
}

} // namespace norvex::link
