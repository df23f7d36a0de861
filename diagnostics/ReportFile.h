// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writing a finished report to disk.

#include <string>

namespace norvex::diagnostics {

// Creates the file at path anew with every byte of content as it is. The content goes into a
// temporary file beside it, is flushed to disk and only then takes the name, so a failure (a
// full disk, a file-size limit) leaves an earlier file of that name as it was and no partial
// file behind. A device (such as /dev/full) is written in place. Returns false with an
// operator-readable message in error when the file cannot be created, a write falls short or
// the data cannot be committed: "Cannot create <path>: <reason>" or "Cannot write <path>: <reason>".
bool writeReportFile(const std::string& path, const std::string& content, std::string& error);

} // namespace norvex::diagnostics
