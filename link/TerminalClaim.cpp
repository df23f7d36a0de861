// SPDX-License-Identifier: GPL-3.0-or-later
#include "TerminalClaim.h"

#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace norvex::link {

bool TerminalClaim::take(int fd) {
    haveFound_ = false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    // Others opening the device after us fail (root excepted).
    (void)::ioctl(fd, TIOCEXCL);
    haveFound_ = ::tcgetattr(fd, &found_) == 0;
    return true;
}

void TerminalClaim::release(int& fd) {
    if (fd < 0) return;
    if (haveFound_) (void)::tcsetattr(fd, TCSANOW, &found_);
    haveFound_ = false;
    (void)::ioctl(fd, TIOCNXCL);
    ::close(fd);
    fd = -1;
}

} // namespace norvex::link
