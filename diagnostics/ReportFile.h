#pragma once
// Writing a finished report to disk.

#include <string>

namespace norvex::diagnostics {

// Creates the file at path anew (an existing one is truncated) and writes every byte of
// content as it is. Returns false with an operator-readable message in error when the file
// cannot be created, a write falls short (for example a full disk) or the data cannot be
// committed: "Cannot create <path>: <reason>" or "Cannot write <path>: <reason>".
bool writeReportFile(const std::string& path, const std::string& content, std::string& error);

} // namespace norvex::diagnostics
