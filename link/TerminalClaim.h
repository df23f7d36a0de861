// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A terminal device held for exclusive use, and what closing it must give back: the line
// settings it had when it was opened, and the exclusive-use flag, which on a pseudo-terminal
// outlives the descriptor (an ordinary user's next open would fail with EBUSY). Both users of a
// serial port (the link and the firmware download) open and close through this.

#include <termios.h>

namespace norvex::link {

class TerminalClaim {
public:
    // Takes the open terminal `fd` for exclusive use: a non-blocking flock (held by another
    // program: false) and TIOCEXCL, and remembers the line settings found. On false nothing is
    // held and `fd` is still open.
    [[nodiscard]] bool take(int fd);

    // Gives the terminal back and closes `fd` (which drops the flock): exclusive use cleared,
    // the settings found at take() restored. Sets `fd` to -1; harmless for -1.
    void release(int& fd);
    // release() restores the settings found without hang-up on close, so that closing drops no
    // modem line.
    void keepModemLines() { found_.c_cflag &= ~static_cast<tcflag_t>(HUPCL); }

private:
    termios found_{};
    bool haveFound_ = false;
};

} // namespace norvex::link
