// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A pseudo-terminal for the port tests: the master held here, the slave's path for the code under
// test to open. `slave` stays empty when the system gives none.

#include <fcntl.h>
#include <stdlib.h>
#include <string>
#include <unistd.h>

namespace norvex::test {

struct Pty {
    int master = -1;
    std::string slave;
    Pty() {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0) slave = ::ptsname(master);
    }
    ~Pty() {
        if (master >= 0) ::close(master);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;
};

} // namespace norvex::test
