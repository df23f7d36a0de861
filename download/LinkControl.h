// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace norvex::download {

// What the download needs from the running MDB link before it takes the port over.
class LinkControl {
public:
    virtual ~LinkControl() = default;

    // Stops the poll timer (clearing the started state) and closes the link if it is open, which ends
    // the link worker. Afterwards nothing but the download touches the port.
    virtual void stopLink() = 0;
};

} // namespace norvex::download
