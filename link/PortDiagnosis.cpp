// SPDX-License-Identifier: GPL-3.0-or-later
#include "PortDiagnosis.h"

#include "PortDiscovery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace norvex::link {

namespace fs = std::filesystem;

namespace {

// "crw-rw----"
std::string modeText(mode_t mode) {
    std::string s = S_ISCHR(mode) ? "c" : S_ISDIR(mode) ? "d" : S_ISBLK(mode) ? "b" : "-";
    const char* rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i)
        s += (mode & (0400u >> i)) ? rwx[i] : '-';
    return s;
}

std::string userName(uid_t uid) {
    if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
    return std::to_string(uid);
}

bool sessionHasGroup(gid_t gid) {
    if (::getegid() == gid) return true;
    const int n = ::getgroups(0, nullptr);
    if (n <= 0) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, groups.data());
    return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// True when the account is in the group by the group database, whether or not this session
// (started before the account joined) has it.
bool accountInGroup(gid_t gid) {
    const passwd* pw = ::getpwuid(::geteuid());
    if (!pw) return false;
    if (pw->pw_gid == gid) return true;
    const std::string me = pw->pw_name;
    const group* gr = ::getgrgid(gid);
    if (!gr) return false;
    for (char** m = gr->gr_mem; m && *m; ++m)
        if (me == *m) return true;
    return false;
}

// The slave side of a pseudo-terminal (the Unix 98 pty slaves' majors).
bool isPseudoTerminal(dev_t device) {
    return ::major(device) >= 136 && ::major(device) <= 143;
}

std::string presentDevices(const std::string& root) {
    std::string list;
    for (const SerialDevice& d : PortDiscovery(root).scan()) {
        if (!d.usb) continue;
        list += (list.empty() ? "" : ", ") + d.path;
    }
    return list.empty() ? "No USB serial adapter is plugged in."
                        : "USB serial adapters present: " + list + ".";
}

} // namespace

PortDiagnosis::PortDiagnosis(std::string root) : root_(std::move(root)) {
    // Not `root_ = "/"`: GCC 12 at -O3 takes that assignment for an overlapping copy.
    if (root_.empty()) root_.push_back('/');
}

std::string PortDiagnosis::inRoot(const std::string& path) const {
    if (root_ == "/") return path;
    return root_ + path;
}

std::string PortDiagnosis::groupName(unsigned gid) {
    if (const group* gr = ::getgrgid(static_cast<gid_t>(gid))) return gr->gr_name;
    return std::to_string(gid);
}

bool PortDiagnosis::groupMayUse(unsigned mode, unsigned gid) {
    return gid != 0 && (mode & S_IRGRP) != 0 && (mode & S_IWGRP) != 0;
}

std::string PortDiagnosis::permissionAdvice(unsigned mode, unsigned gid) {
    if (!groupMayUse(mode, gid))
        return "Its group may not use it either: the system's device rules must give it to a group such as "
               "dialout first.";
    const std::string group = groupName(gid);
    const std::string user = userName(::geteuid());
    if (accountInGroup(static_cast<gid_t>(gid)) && !sessionHasGroup(static_cast<gid_t>(gid)))
        return "User " + user + " is in the group " + group +
               " already, but this session began before joining it: log out and in again.";
    return "Join the group " + group + " with:  sudo usermod -aG " + group +
           " $USER  then log out and in again.";
}

std::vector<PortHolder> PortDiagnosis::holders(const std::string& path) const {
    bool complete = true;
    return holders(path, complete);
}

std::vector<PortHolder> PortDiagnosis::holders(const std::string& path, bool& complete) const {
    std::vector<PortHolder> found;
    complete = true;
    const std::string target = PortDiscovery(root_).resolve(path);
    if (target.empty()) return found;
    std::error_code ec;
    const pid_t self = ::getpid();
    for (const auto& proc : fs::directory_iterator(inRoot("/proc"), ec)) {
        const std::string pidText = proc.path().filename().string();
        if (pidText.empty() ||
            !std::all_of(pidText.begin(), pidText.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int pid = std::atoi(pidText.c_str());
        if (pid == self) continue;
        std::error_code fdEc;
        fs::directory_iterator fds(proc.path() / "fd", fdEc);
        // A process that ended meanwhile is gone; one of another user's hides its descriptors.
        if (fdEc && fdEc != std::errc::no_such_file_or_directory) complete = false;
        for (const auto& fd : fds) {
            std::error_code linkEc;
            const fs::path to = fs::read_symlink(fd.path(), linkEc);
            if (linkEc || to.string() != target) continue;
            PortHolder h;
            h.pid = pid;
            std::ifstream comm(proc.path() / "comm");
            std::getline(comm, h.program);
            if (h.program.empty()) h.program = "process " + pidText;
            found.push_back(h);
            break;
        }
    }
    return found;
}

PortExplanation PortDiagnosis::explain(const std::string& path, int openErrno) const {
    PortExplanation out;
    const std::string where = inRoot(path);
    struct stat lst {};
    const bool named = ::lstat(where.c_str(), &lst) == 0;
    struct stat st {};
    if (::stat(where.c_str(), &st) != 0) {
        out.problem = PortProblem::Missing;
        if (named && S_ISLNK(lst.st_mode))
            out.text = path + " leads to no device: the adapter it names is not plugged in. ";
        else
            out.text = path + " is not there: is the adapter plugged in? ";
        out.text += presentDevices(root_);
        return out;
    }
    if (!S_ISCHR(st.st_mode) || openErrno == ENOTTY) {
        out.problem = PortProblem::NotSerial;
        out.text = path + " is not a serial port.";
        return out;
    }
    if (::faccessat(AT_FDCWD, where.c_str(), R_OK | W_OK, AT_EACCESS) != 0 || openErrno == EACCES ||
        openErrno == EPERM) {
        out.problem = PortProblem::NoPermission;
        const std::string group = groupName(st.st_gid);
        const std::string user = userName(::geteuid());
        out.text = "User " + user + " may not open " + path + " (" + modeText(st.st_mode) + ", owner " +
                   userName(st.st_uid) + ", group " + group + "). ";
        out.text += permissionAdvice(st.st_mode, st.st_gid);
        return out;
    }
    bool complete = true;
    const std::vector<PortHolder> held = holders(path, complete);
    const bool busy = openErrno == EBUSY || openErrno == EWOULDBLOCK;
    if (!held.empty() && (busy || openErrno == 0)) {
        out.problem = PortProblem::HeldElsewhere;
        out.text = "Another program holds " + path + ": ";
        for (std::size_t i = 0; i < held.size(); ++i)
            out.text += (i ? ", " : "") + held[i].program + " (process " + std::to_string(held[i].pid) + ")";
        out.text += ". Close it and START again.";
        return out;
    }
    if (openErrno == EBUSY) {
        // The open itself was refused: the terminal is marked for exclusive use (TIOCEXCL), yet no
        // program has it open. A program that ended without clearing the mark left it behind (on a
        // pseudo-terminal it lasts as long as the other end stays open); nothing holds the port.
        out.problem = PortProblem::LeftMarked;
        out.text = path + " is still marked for exclusive use, but no program has it open" +
                   (complete ? "" : " (as far as the system shows this user)") +
                   ": a program that ended without releasing it left the mark. ";
        out.text += isPseudoTerminal(st.st_rdev)
                        ? "Restart the program at its other end (for the virtual validator: norvex-sim), "
                          "then START again."
                        : "Unplug the adapter and plug it in again, then START again.";
        return out;
    }
    if (busy) {
        // The lock is taken: whoever took it still has the port open.
        out.problem = PortProblem::HeldElsewhere;
        out.text = "Another program holds " + path +
                   " (the system does not show this user which one). Close it and START again.";
        return out;
    }
    if (openErrno == ENXIO || openErrno == ENODEV || openErrno == EIO || openErrno == ENOENT) {
        out.problem = PortProblem::Missing;
        out.text = path + " does not answer: the adapter may have been pulled out. " + presentDevices(root_);
        return out;
    }
    if (openErrno != 0) out.text = path + ": " + std::strerror(openErrno) + ".";
    return out;
}

} // namespace norvex::link
