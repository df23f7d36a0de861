// SPDX-License-Identifier: GPL-3.0-or-later
#include "diagnostics/ReportFile.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace norvex::diagnostics {

namespace {

std::string failure(const char* what, const std::string& path, int err) {
    return std::string(what) + " " + path + ": " + std::generic_category().message(err);
}

// Writes every byte; 0 or the reason it stopped.
int writeAll(int fd, const std::string& content) {
    const char* p = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return ENOSPC; // no progress on a regular file means there is no room
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Some file systems report a lack of space only when the data is committed.
int commit(int fd) {
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) return errno;
    return 0;
}

// A device or a pipe cannot be replaced: it is written as it is.
bool writeInPlace(const std::string& path, const std::string& content, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) {
        error = failure("Cannot create", path, errno);
        return false;
    }
    int err = writeAll(fd, content);
    if (err == 0) err = commit(fd);
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err != 0) {
        error = failure("Cannot write", path, err);
        return false;
    }
    return true;
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

bool writeReportFile(const std::string& path, const std::string& content, std::string& error) {
    error.clear();
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && S_ISDIR(old.st_mode)) {
        error = failure("Cannot create", path, EISDIR);
        return false;
    }
    if (exists && !S_ISREG(old.st_mode)) return writeInPlace(path, content, error);

    // A symbolic link keeps pointing where it did: the file it names is the one replaced.
    std::string target = path;
    if (exists) {
        char real[PATH_MAX];
        if (::realpath(path.c_str(), real) != nullptr) target = real;
    }

    // The report goes into a temporary file beside the target and replaces it only once it is
    // complete and on disk, so a full disk or a size limit leaves the earlier report as it was.
    static std::atomic<unsigned> serial{0};
    const std::string name = target.substr(target.find_last_of('/') + 1);
    const std::string dir = directoryOf(target);
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary =
            dir + "/." + name + "." + std::to_string(::getpid()) + "-" + std::to_string(serial++) + ".tmp";
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        error = failure("Cannot create", path, errno);
        return false;
    }
    if (exists) {
        // The replacement keeps the permissions (and, where allowed, the owner) of the report it
        // replaces, as writing over it did.
        if (::fchmod(fd, old.st_mode & 07777) != 0) {
            // best effort: the report itself matters more
        }
        if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
            ::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // only the owner's own group, or root, can hand the file over
        }
    }

    int err = writeAll(fd, content);
    if (err == 0) err = commit(fd);
    if (::close(fd) != 0 && err == 0 && errno != EINTR) err = errno;
    if (err == 0 && ::rename(temporary.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temporary.c_str());
        error = failure("Cannot write", path, err);
        return false;
    }
    // The new name on disk too (best effort: not every file system syncs a directory).
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace norvex::diagnostics
