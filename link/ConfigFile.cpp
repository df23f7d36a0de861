// SPDX-License-Identifier: GPL-3.0-or-later
#include "ConfigFile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace norvex::link {

namespace {

std::string reason(int error) {
    return std::strerror(error);
}

std::string kindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

} // namespace

ConfigRead readConfigFile(const std::string& path, std::size_t limit, std::string& text,
                          std::string& warning) {
    text.clear();
    // Looked at before opening: opening a terminal or a FIFO can block or act on the device.
    struct stat named {};
    if (::stat(path.c_str(), &named) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return ConfigRead::Missing;
        warning = "cannot read " + path + ": " + reason(errno) + "; it is ignored.";
        return ConfigRead::Refused;
    }
    if (!S_ISREG(named.st_mode)) {
        warning = path + " is " + kindOf(named.st_mode) + ", not a settings file; it is ignored.";
        return ConfigRead::Refused;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return ConfigRead::Missing;
        warning = "cannot read " + path + ": " + reason(errno) + "; it is ignored.";
        return ConfigRead::Refused;
    }
    // What was opened may have been put there after the look above.
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
        ::close(fd);
        warning = path + " is " + kindOf(opened.st_mode) + ", not a settings file; it is ignored.";
        return ConfigRead::Refused;
    }
    text.resize(limit + 1);
    std::size_t got = 0;
    int error = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            break;
        }
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    text.resize(got);
    if (error != 0) {
        text.clear();
        warning = "cannot read " + path + ": " + reason(error) + "; it is ignored.";
        return ConfigRead::Refused;
    }
    if (got > limit) {
        text.clear();
        warning = path + " is larger than a settings file can be; it is ignored.";
        return ConfigRead::Refused;
    }
    return ConfigRead::Read;
}

bool replaceConfigFile(const std::string& path, const std::string& text, mode_t mode, std::string& error) {
    namespace fs = std::filesystem;
    const fs::path target(path);
    if (target.has_parent_path()) {
        std::error_code ec;
        fs::create_directories(target.parent_path(), ec);
        if (ec) {
            error = "cannot create " + target.parent_path().string() + ": " + ec.message();
            return false;
        }
    }
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str()); // a leftover of a crash, perhaps with wider permissions
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot write " + temporary + ": " + reason(errno);
        return false;
    }
    // The mode asked for, whatever the umask made of it.
    (void)::fchmod(fd, mode);
    std::size_t done = 0;
    int failure = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            failure = n < 0 ? errno : ENOSPC;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (failure == 0 && ::fsync(fd) != 0 && errno != EINVAL) failure = errno;
    if (::close(fd) != 0 && failure == 0 && errno != EINTR) failure = errno;
    if (failure != 0) {
        error = "cannot write " + temporary + ": " + reason(failure);
        ::unlink(temporary.c_str());
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = "cannot replace " + path + ": " + reason(errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

} // namespace norvex::link
