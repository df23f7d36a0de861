// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/DataRecorder.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace norvex::ui {

namespace {

std::string errorText(int error) {
    return std::system_category().message(error);
}

} // namespace

std::optional<std::string> formatTrafficRecord(std::uint32_t runClockMs, const link::TrafficBuffer& traffic) {
    // The request starts at position 0; without it there is nothing to name the line after.
    if (traffic.sent[0] == link::TRAFFIC_EMPTY) return std::nullopt;

    // Same walk as the view: column i pairs sent[i] with received[i + 1], up to the first
    // column with neither. The answer is every received byte met on the way, in order; the
    // acknowledge, when there is one, is a sent entry and never part of it.
    std::array<std::uint8_t, link::TRAFFIC_SIZE> answer;
    std::size_t count = 0;
    for (std::size_t i = 0; i + 1 < link::TRAFFIC_SIZE; ++i) {
        const std::uint16_t s = traffic.sent[i];
        const std::uint16_t r = traffic.received[i + 1];
        if (s == link::TRAFFIC_EMPTY && r == link::TRAFFIC_EMPTY) break;
        if (r != link::TRAFFIC_EMPTY) answer[count++] = static_cast<std::uint8_t>(r);
    }
    if (count < 2) return std::nullopt;

    char head[48];
    const int headLength =
        std::snprintf(head, sizeof head, "time: %09u  vmc: %02X val:", static_cast<unsigned>(runClockMs),
                      traffic.sent[0] & 0xFFu);
    std::string line;
    line.reserve(static_cast<std::size_t>(headLength) + 3 * count + 3);
    line.append(head, static_cast<std::size_t>(headLength));
    static constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
    for (std::size_t k = 0; k < count; ++k) {
        line += ' ';
        line += HEX_DIGITS[answer[k] >> 4];
        line += HEX_DIGITS[answer[k] & 0x0F];
    }
    line += " \r\n";
    return line;
}

DataRecorder::~DataRecorder() {
    close();
}

bool DataRecorder::open(const std::string& path) {
    close();
    lastError_.clear();
    path_ = path;
    if (path.empty()) {
        lastError_ = "Cannot create the data file: no file name given";
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        lastError_ = "Cannot create the data file " + path + ": " + errorText(errno);
        return false;
    }
    fd_ = fd;
    size_ = 0;
    return true;
}

bool DataRecorder::isFile(const std::string& path) const {
    if (fd_ < 0) return false;
    struct stat open {
    }, named{};
    return ::fstat(fd_, &open) == 0 && ::stat(path.c_str(), &named) == 0 && open.st_dev == named.st_dev &&
           open.st_ino == named.st_ino;
}

void DataRecorder::close() {
    if (fd_ < 0) return;
    ::close(fd_);
    fd_ = -1;
}

DataRecorder::WriteResult DataRecorder::write(std::string_view record) {
    if (fd_ < 0) return WriteResult::Closed;

    // The whole record in one call; a short write (signal, limit reached) continues with the
    // rest, so records never interleave or split.
    const char* next = record.data();
    std::size_t left = record.size();
    while (left > 0) {
        const ssize_t n = ::write(fd_, next, left);
        if (n > 0) {
            next += n;
            left -= static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const int error = n < 0 ? errno : EIO;
        // Leave only whole records behind: a torn last line would read as a wrong answer.
        // Best effort; on a vanished device this fails too and the piece stays.
        [[maybe_unused]] const int cut = ::ftruncate(fd_, static_cast<off_t>(size_));
        close();
        lastError_ = "Recording stopped: cannot write " + path_ + ": " + errorText(error);
        return WriteResult::Failed;
    }
    size_ += record.size();
    return WriteResult::Ok;
}

DataRecorder::WriteResult DataRecorder::writeTrafficRecord(std::uint32_t runClockMs,
                                                           const link::TrafficBuffer& traffic) {
    if (fd_ < 0) return WriteResult::Closed;
    const std::optional<std::string> line = formatTrafficRecord(runClockMs, traffic);
    if (!line) return WriteResult::Ok;
    return write(*line);
}

} // namespace norvex::ui
