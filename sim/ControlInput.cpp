// SPDX-License-Identifier: GPL-3.0-or-later
#include "ControlInput.h"

#include "WireFormat.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <unistd.h>

namespace norvex::sim {

void ControlInput::read(const std::function<bool(const Command&)>& take,
                        const std::function<void(const std::string&, const std::string&)>& refuse) {
    char buf[1024];
    const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
    if (n <= 0) {
        if (n == 0 || (errno != EAGAIN && errno != EINTR)) open_ = false;
        return;
    }
    buffer_.append(buf, static_cast<std::size_t>(n));
    std::size_t eol;
    while ((eol = buffer_.find('\n')) != std::string::npos) {
        const std::string line = buffer_.substr(0, eol);
        buffer_.erase(0, eol + 1);
        const auto words = splitWords(line);
        if (words.empty() || words[0][0] == '#') continue;
        const auto parsed = parseCommand(line);
        if (!parsed.ok) {
            refuse(line, parsed.error);
            continue;
        }
        if (!take(parsed.command)) break;
    }
    if (buffer_.size() > 65536) buffer_.clear();
}

std::FILE* openLogFile(const std::string& path) {
    std::FILE* log = std::fopen(path.c_str(), "w");
    if (!log) std::fprintf(stderr, "norvex-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return log;
}

bool loadScenarioFile(const std::string& path, std::vector<ScenarioStep>& scenario) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "norvex-sim: cannot read %s\n", path.c_str());
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    if (!parseScenario(text.str(), scenario, error)) {
        std::fprintf(stderr, "norvex-sim: %s: %s\n", path.c_str(), error.c_str());
        return false;
    }
    return true;
}

void replyLine(const std::string& text) {
    pollfd p{STDOUT_FILENO, POLLOUT, 0};
    if (::poll(&p, 1, 0) != 1 || !(p.revents & POLLOUT)) return;
    const std::string line = text + "\n";
    [[maybe_unused]] const ssize_t w = ::write(STDOUT_FILENO, line.data(), line.size());
}

} // namespace norvex::sim
