// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What `norvex --list-ports` prints and the ports dialog shows: each serial device present with
// what the system knows about it and the COM entries that lead to it, then each COM entry with
// its device.

#include "PortDiscovery.h"
#include "PortMap.h"

#include <string>
#include <vector>

namespace norvex::link {

// The COM entries (0..3) whose device path leads to `device`.
std::vector<int> entriesLeadingTo(const PortDiscovery& discovery, const PortMap& ports,
                                  const SerialDevice& device);

// Where an entry's device came from, in words: "default", "assigned", "NORVEX_COM1", "--port".
std::string originText(const PortMap& ports, int portNumber);

// The whole listing, lines ending in '\n'.
std::string portListing(const PortDiscovery& discovery, const PortMap& ports);

} // namespace norvex::link
