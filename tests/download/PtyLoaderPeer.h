// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The test loader on the master side of a pseudo-terminal, answering from its own thread as fast as
// it can. The tool opens slavePath() like a serial port.

#include "LoaderModel.h"

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace norvex::download::testing {

class PtyLoaderPeer {
public:
    explicit PtyLoaderPeer(LoaderBehaviour behaviour = {});
    ~PtyLoaderPeer();
    PtyLoaderPeer(const PtyLoaderPeer&) = delete;
    PtyLoaderPeer& operator=(const PtyLoaderPeer&) = delete;

    const std::string& slavePath() const { return slave_; }
    // Ends the thread; the model and counters may be read afterwards.
    void stop();

    const LoaderModel& model() const { return model_; }
    size_t bytesFromTool() const { return fromTool_; }
    // The tool's line settings as the terminal held them when its bytes arrived, each change
    // once: "9600 baud, 8 data bits, no parity, no flow control". A pseudo-terminal keeps speed
    // and flow control as set, but always reports 8 data bits and no parity.
    const std::vector<std::string>& linesSeen() const { return lines_; }
    size_t bytesToTool() const { return toTool_; }

private:
    void run();
    int currentBaud() const;
    std::string currentLine() const;

    int master_ = -1;
    std::string slave_;
    LoaderModel model_;
    std::atomic<bool> stop_{false};
    size_t fromTool_ = 0;
    size_t toTool_ = 0;
    std::vector<std::string> lines_;
    std::thread thread_;
};

} // namespace norvex::download::testing
