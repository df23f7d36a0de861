// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <string>

namespace norvex::sim {

// The master side of a pseudo-terminal pair. The master stays open while no client has the
// slave open, so that clients can close and reopen the slave path.
class PseudoTerminal {
public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() { close(); }

    bool open(std::string& error);
    // A symbolic link to the slave path; an existing symbolic link at `path` is replaced.
    bool makeLink(const std::string& path, std::string& error);
    // Closes the master (the slave path disappears) and removes the link.
    void close();
    // Throws away what was written to a client that has gone, so the next client starts clean.
    void discardUnread();

    int fd() const { return master_; }
    bool isOpen() const { return master_ >= 0; }
    const std::string& slavePath() const { return slavePath_; }

private:
    int master_ = -1;
    std::string slavePath_;
    std::string linkPath_;
};

} // namespace norvex::sim
