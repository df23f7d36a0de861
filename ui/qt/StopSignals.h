// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGINT, SIGTERM and SIGHUP for the window: each ends the program as EXIT does instead of
// killing it with a bill held in escrow and the port still marked for exclusive use. The handler
// only writes the signal's number into a pipe (write is async-signal-safe); a socket notifier on
// the pipe hands it to the window's thread. One instance at a time; the previous handlers come
// back when it goes.

#include <QObject>

#include <csignal>
#include <functional>
#include <iterator>

class QSocketNotifier;

namespace norvex::qt {

class StopSignals final : public QObject {
    Q_OBJECT
public:
    // `onSignal` runs on the thread that made this object, once per signal received.
    explicit StopSignals(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
    ~StopSignals() override;
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // False when the pipe could not be made: the signals then keep their previous action.
    bool active() const { return notifier_ != nullptr; }

    static constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

private:
    void takeSignals();

    std::function<void(int)> onSignal_;
    int readFd_ = -1;
    int writeFd_ = -1;
    QSocketNotifier* notifier_ = nullptr;
    struct sigaction previous_[std::size(SIGNALS)]{};
};

} // namespace norvex::qt
