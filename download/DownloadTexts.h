// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <string>

namespace norvex::download {

// Operator texts of the firmware download, exactly as shown.
inline constexpr const char* INFO_CAPTION = "Info";
inline constexpr const char* DIP_SWITCH_PROMPT =
    "Set DIP switches down, RE-START validator,and click on OK to continue";
inline constexpr const char* DOWNLOAD_ABORTED_TEXT = "Download aborted";
inline constexpr const char* PORT_FAILED = "No Connection";   // the port did not open at 9600 baud
inline constexpr const char* LOADER_SILENT = "No connection"; // the loader did not answer the handshake
inline constexpr const char* CHECK_VALUE_FAILED = "CRC Test failure. ";
inline constexpr const char* DOWNLOAD_COMPLETE =
    "DOWNLOAD complete.Set DIP Switch back to normal and RE-START Validator";

// The progress window (template 152) and its group box caption.
inline constexpr const char* PROGRESS_TITLE = "Download in progress";
inline constexpr const char* PROGRESS_TEXT = "Please wait until download process is finished....";
inline constexpr const char* PROGRESS_INITIAL_CAPTION = "file name:";

// The file-open dialog.
inline constexpr const char* IMAGE_EXTENSION = "TVK";
inline constexpr const char* IMAGE_INITIAL_NAME = "*.TVK";
inline constexpr const char* IMAGE_FILTER = "VNTprogram_file(*.TVK)|*.TVK|";

// The caption buffer holds 128 characters with its terminator.
inline constexpr size_t CAPTION_CAPACITY = 128;

// "file name: %s" with the file name, at most CAPTION_CAPACITY - 1 bytes. A longer name keeps its
// beginning and its end (the extension) with "..." between; UTF-8 sequences are never cut.
std::string progressCaption(const std::string& fileName);

} // namespace norvex::download
