// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The devices the technician assigned to COM 1..COM 4 in the ports dialog, kept by stable name
// (/dev/serial/by-id/...) in a settings file of their own: $XDG_CONFIG_HOME/norvex/ports.conf,
// or ~/.config/norvex/ports.conf. One line per assigned entry, "COM1=/dev/serial/by-id/...";
// lines starting with '#' and blank lines are comments. norvex.ini is not touched.

#include "PortMap.h"

#include <array>
#include <string>

namespace norvex::link {

class PortAssignments {
public:
    // The file's place from the environment; empty when neither XDG_CONFIG_HOME nor HOME is set.
    static std::string defaultFile();

    // Reads `file`. A missing file is no assignment (true). A damaged file (a line that is not
    // COMn=/absolute/path, an entry twice, a byte that does not belong in a path, an oversized
    // file), one that cannot be read and anything there but a regular file (a folder, a FIFO:
    // never waited on) are ignored as a whole: false, nothing assigned, and `warning` says why.
    [[nodiscard]] bool load(const std::string& file, std::string& warning);

    // Writes every assignment to `file` (its folder is created), replacing the file in one step
    // so that a crash leaves the old file or the new one. False with the reason.
    [[nodiscard]] bool save(const std::string& file, std::string& error) const;

    // An empty path removes the assignment.
    void assign(int portNumber, const std::string& path);
    const std::string& assigned(int portNumber) const;

    // Gives each assigned entry its device, where the environment or the command line has not
    // decided the entry already.
    void applyTo(PortMap& ports) const;

private:
    std::array<std::string, PortMap::PORT_COUNT> paths_;
};

} // namespace norvex::link
