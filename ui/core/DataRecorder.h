// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Recording of the bus traffic into a text file: one line per validator answer of two bytes
// or more, with the run-clock time, the controller's first byte and the answer's bytes.

#include "link/LinkTypes.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace norvex::ui {

// The record line of the exchange in `traffic`:
//   "time: %09u  vmc: %02X val:" + " %02X" per answer byte + " \r\n".
// The answer bytes are the received entries that follow the request, in arrival order,
// whether or not the controller acknowledged the answer. No line (nullopt) for an answer of
// fewer than two bytes or when the buffer holds no request.
std::optional<std::string> formatTrafficRecord(std::uint32_t runClockMs, const link::TrafficBuffer& traffic);

// The open data file. Each record goes to the file whole, at once, with no buffering in the
// process, so a record written is kept even if the program dies right after. A write that
// fails closes the file: recording stops and the failure is reported once.
class DataRecorder {
public:
    enum class WriteResult {
        Ok,     // the whole record is in the file
        Failed, // this write failed; lastError() tells why; the file is now closed
        Closed  // no file open (never opened, closed, or stopped by an earlier failure)
    };

    DataRecorder() = default;
    ~DataRecorder();
    DataRecorder(const DataRecorder&) = delete;
    DataRecorder& operator=(const DataRecorder&) = delete;

    // Creates the file at `path` anew (an existing file is emptied). A file already open is
    // closed first. On failure returns false, lastError() holds the message and nothing is open.
    bool open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    void close();

    WriteResult write(std::string_view record);
    // Formats and writes the record of one exchange; Ok without writing when the exchange
    // gives no line.
    WriteResult writeTrafficRecord(std::uint32_t runClockMs, const link::TrafficBuffer& traffic);

    // True while the open data file is the file at `path`, however it is spelt (another
    // name for it, a link to it).
    bool isFile(const std::string& path) const;

    const std::string& path() const { return path_; }
    const std::string& lastError() const { return lastError_; }

private:
    int fd_ = -1;
    std::string path_;
    std::string lastError_;
    std::uint64_t size_ = 0; // bytes of whole records in the file
};

} // namespace norvex::ui
