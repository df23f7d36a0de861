// SPDX-License-Identifier: GPL-3.0-or-later
#include "StopSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace norvex::qt {

namespace {

// The pipe's writing end for the handler; -1 while no StopSignals lives. A lock-free atomic is
// safe to read in a handler.
std::atomic<int> signalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);

void onStopSignal(int signal) {
    const int saved = errno;
    if (const int fd = signalPipe.load(); fd >= 0) {
        const auto number = static_cast<unsigned char>(signal);
        // A full pipe already holds an ending: this one may be dropped.
        [[maybe_unused]] const ssize_t n = ::write(fd, &number, 1);
    }
    errno = saved;
}

} // namespace

StopSignals::StopSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    readFd_ = fds[0];
    writeFd_ = fds[1];
    signalPipe.store(writeFd_);
    notifier_ = new QSocketNotifier(readFd_, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { takeSignals(); });
    struct sigaction sa {};
    sa.sa_handler = onStopSignal;
    sigemptyset(&sa.sa_mask);
    // System calls the signal interrupts (the link worker's writes and drains among them) go on.
    sa.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(SIGNALS); ++i) {
        ::sigaction(SIGNALS[i], nullptr, &previous_[i]);
        // Started with the signal ignored (nohup, a background job of a script): it stays so.
        if (previous_[i].sa_handler != SIG_IGN) ::sigaction(SIGNALS[i], &sa, nullptr);
    }
}

StopSignals::~StopSignals() {
    if (!notifier_) return;
    // No handler of ours runs after this; one that runs now still finds the pipe open.
    for (std::size_t i = 0; i < std::size(SIGNALS); ++i)
        ::sigaction(SIGNALS[i], &previous_[i], nullptr);
    signalPipe.store(-1);
    delete notifier_;
    ::close(readFd_);
    ::close(writeFd_);
}

void StopSignals::takeSignals() {
    unsigned char numbers[16];
    for (;;) {
        const ssize_t n = ::read(readFd_, numbers, sizeof numbers);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        for (ssize_t i = 0; i < n; ++i)
            if (onSignal_) onSignal_(numbers[i]);
    }
}

} // namespace norvex::qt
