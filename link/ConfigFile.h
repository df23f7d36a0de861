// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Small settings files of our own (ports.conf, history.conf): read only when they are regular
// files, without ever blocking on a FIFO or a device that sits where the file should be, and
// written by replacing the file in one step.

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace norvex::link {

enum class ConfigRead {
    Missing, // no file there: nothing set yet
    Read,    // the whole file is in `text`
    Refused, // something else is there, it cannot be read or it is too large; `warning` says which
};

// Reads at most `limit` bytes of `path`. Anything but a regular file (a folder, a FIFO, a
// device) is refused without reading it; so is a file larger than `limit`.
ConfigRead readConfigFile(const std::string& path, std::size_t limit, std::string& text,
                          std::string& warning);

// Writes `text` into a temporary file beside `path` with the permissions `mode`, commits it to
// disk and renames it over `path` (its folder is created), so that a crash or a full disk
// leaves the old file or the new one. False with the reason.
[[nodiscard]] bool replaceConfigFile(const std::string& path, const std::string& text, mode_t mode,
                                     std::string& error);

} // namespace norvex::link
