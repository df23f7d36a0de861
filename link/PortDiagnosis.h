// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Why a serial port did not open, in words for the technician: the device is missing; this user
// may not open it (the group that owns it, and how to join that group); another program holds
// it (which one, where the system shows it); it is still marked for exclusive use by a program
// that has ended; it is not a serial port. Reads the file system
// below a root folder ("/" for the real system) and never opens the device itself: opening a
// serial port raises its modem lines.

#include <string>
#include <vector>

namespace norvex::link {

enum class PortProblem {
    None,          // nothing found wrong (the open failed for another reason)
    Missing,       // no such device: not plugged in, or a stable name left from an earlier one
    NoPermission,  // this user may not read and write it
    HeldElsewhere, // another program has it open for exclusive use
    LeftMarked,    // marked for exclusive use, but no program has it open: one ended without releasing it
    NotSerial,     // it exists but is no serial port
};

struct PortHolder {
    int pid = 0;
    std::string program; // from /proc/PID/comm
};

struct PortExplanation {
    PortProblem problem = PortProblem::None;
    std::string text; // one or more sentences; empty for None without an error number
};

class PortDiagnosis {
public:
    explicit PortDiagnosis(std::string root = "/");

    // `path` is the device the port was to open; `openErrno` the error number the failed open
    // left (0 when unknown).
    PortExplanation explain(const std::string& path, int openErrno) const;

    // The processes that have `path` open, as far as /proc shows them (other users' processes
    // are visible to root only); never the calling process.
    std::vector<PortHolder> holders(const std::string& path) const;
    // The same; `complete` tells whether every process's descriptors could be read (false when
    // some belong to other users and this user may not look).
    std::vector<PortHolder> holders(const std::string& path, bool& complete) const;

    // The name of group `gid`, or its number when it has no name.
    static std::string groupName(unsigned gid);
    // Whether joining the device's group would let a user open it: a group other than root's
    // that may read and write it.
    static bool groupMayUse(unsigned mode, unsigned gid);
    // What a user who may not open a device of that mode and group can do about it: join the
    // group, log in again, or have the system's device rules give the device to a group first.
    static std::string permissionAdvice(unsigned mode, unsigned gid);

private:
    std::string inRoot(const std::string& path) const;

    std::string root_;
};

} // namespace norvex::link
