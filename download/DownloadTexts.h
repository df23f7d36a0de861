#pragma once

#include <cstddef>
#include <string>

namespace norvex::download {

// Operator texts of the firmware download, exactly as shown.
inline constexpr const char* kInfoCaption = "Info";
inline constexpr const char* kDipSwitchPrompt =
    "Set DIP switches down, RE-START validator,and click on OK to continue";
inline constexpr const char* kDownloadAborted = "Download aborted";
inline constexpr const char* kPortFailed = "No Connection";   // the port did not open at 9600 baud
inline constexpr const char* kLoaderSilent = "No connection"; // the loader did not answer the handshake
inline constexpr const char* kCheckValueFailed = "CRC Test failure. ";
inline constexpr const char* kDownloadComplete =
    "DOWNLOAD complete.Set DIP Switch back to normal and RE-START Validator";

// The progress window (template 152) and its group box caption.
inline constexpr int kProgressTemplate = 152;
inline constexpr int kProgressGroupId = 1037;
inline constexpr int kProgressBarId = 1036;
inline constexpr const char* kProgressTitle = "Download in progress";
inline constexpr const char* kProgressText = "Please wait until download process is finished....";
inline constexpr const char* kProgressInitialCaption = "file name:";

// The file-open dialog.
inline constexpr const char* kImageExtension = "TVK";
inline constexpr const char* kImageInitialName = "*.TVK";
inline constexpr const char* kImageFilter = "VNTprogram_file(*.TVK)|*.TVK|";

// The caption buffer holds 128 characters with its terminator.
inline constexpr size_t kCaptionCapacity = 128;

// "file name: %s" with the file name, at most kCaptionCapacity - 1 bytes. A longer name keeps its
// beginning and its end (the extension) with "..." between; UTF-8 sequences are never cut.
std::string progressCaption(const std::string& fileName);

} // namespace norvex::download
