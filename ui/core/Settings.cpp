// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/core/Settings.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>

namespace norvex::ui {

namespace {

constexpr std::size_t PORT_OFFSET = 13; // after "Com_Port_Num:"
constexpr std::size_t HEAD_LENGTH = 14; // up to and including the digit

std::string errorText(int error) {
    return std::system_category().message(error);
}

// Never truncates: the line is written over the start of whatever the file holds.
int openSettingsFile(const std::string& path) {
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
}

// Reads up to `size` bytes from the start; the count read, or -1 with errno set.
ssize_t readHead(int fd, char* buffer, std::size_t size) {
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd, buffer + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

// Writes the settings line for `portNumber` at offset 0; 0 or the error number.
int writeLine(int fd, int portNumber) {
    char line[24];
    const int length = std::snprintf(line, sizeof line, "Com_Port_Num:%d\r\n", portNumber);
    std::size_t done = 0;
    while (done < static_cast<std::size_t>(length)) {
        const ssize_t n =
            ::pwrite(fd, line + done, static_cast<std::size_t>(length) - done, static_cast<off_t>(done));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return errno;
        if (n == 0) return EIO;
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

} // namespace

std::string settingsFilePath(const std::string& dir) {
    if (dir.empty()) return SETTINGS_FILE_NAME;
    if (dir.back() == '/') return dir + SETTINGS_FILE_NAME;
    return dir + '/' + SETTINGS_FILE_NAME;
}

int loadSettings(const std::string& dir, std::string* warning) {
    std::string ignored;
    std::string& note = warning ? *warning : ignored;
    note.clear();
    const std::string path = settingsFilePath(dir);

    const int fd = openSettingsFile(path);
    if (fd < 0) {
        note = "Cannot open the settings file " + path + ": " + errorText(errno) + "; using COM 1";
        return 0;
    }
    char head[HEAD_LENGTH];
    const ssize_t got = readHead(fd, head, sizeof head);
    int port = 0;
    if (got < 0) {
        note = "Cannot read the settings file " + path + ": " + errorText(errno) + "; using COM 1";
    } else if (got == 0) {
        // New or empty file: it starts holding port 0.
        if (const int error = writeLine(fd, 0))
            note = "Cannot write the settings file " + path + ": " + errorText(error);
    } else if (static_cast<std::size_t>(got) < HEAD_LENGTH || head[PORT_OFFSET] < '0' ||
               head[PORT_OFFSET] >= '0' + PORT_COUNT) {
        // Left untouched: the next change of port writes a good line.
        note = "The settings file " + path + " holds no port number; using COM 1";
    } else {
        port = head[PORT_OFFSET] - '0';
    }
    if (::close(fd) != 0 && got == 0 && note.empty())
        note = "Cannot write the settings file " + path + ": " + errorText(errno);
    return port;
}

bool saveSettings(const std::string& dir, int portNumber, std::string& error) {
    error.clear();
    const std::string path = settingsFilePath(dir);
    if (portNumber < 0 || portNumber >= PORT_COUNT) {
        error = "Port number " + std::to_string(portNumber) + " is not one of COM 1 to COM 4; " + path +
                " left unchanged";
        return false;
    }
    const int fd = openSettingsFile(path);
    if (fd < 0) {
        error = "Cannot write the settings file " + path + ": " + errorText(errno);
        return false;
    }
    const int writeError = writeLine(fd, portNumber);
    const int closeError = ::close(fd) != 0 ? errno : 0;
    if (const int e = writeError ? writeError : closeError) {
        error = "Cannot write the settings file " + path + ": " + errorText(e);
        return false;
    }
    return true;
}

std::string defaultDataFilePath() {
    static constexpr const char* DEFAULT_NAME = "MDB_DATA.TXT";
    const char* home = std::getenv("HOME");
    if (!home || !*home) return DEFAULT_NAME;
    std::string path(home);
    if (path.back() != '/') path += '/';
    return path + DEFAULT_NAME;
}

} // namespace norvex::ui
