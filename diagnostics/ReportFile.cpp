#include "diagnostics/ReportFile.h"

#include <cerrno>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace norvex::diagnostics {

namespace {

std::string failure(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::generic_category().message(err);
}

} // namespace

bool writeReportFile(const std::string& path, const std::string& content, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = failure("Cannot create", path, errno);
        return false;
    }

    int err = 0;
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            err = errno;
            break;
        }
        if (n == 0) { // no progress on a regular file means there is no room
            err = ENOSPC;
            break;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    // Some file systems report a lack of space only when the data is committed.
    if (err == 0 && ::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) err = errno;
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;

    if (err != 0) {
        error = failure("Cannot write", path, err);
        return false;
    }
    error.clear();
    return true;
}

} // namespace norvex::diagnostics
