// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// In-process doubles for the download: a byte channel with the test loader behind it, a UI that
// records what it was asked to show, and a link that records being stopped. All three write to one
// event list, so tests can check the order of what the operator sees and what the line does.

#include "LoaderModel.h"
#include "download/ByteChannel.h"
#include "download/DownloadUi.h"
#include "download/LinkControl.h"

#include <algorithm>
#include <deque>
#include <set>
#include <string>
#include <vector>

namespace norvex::download::testing {

using Events = std::vector<std::string>;

class ScriptedChannel : public ByteChannel {
public:
    ScriptedChannel(Events& events, LoaderBehaviour behaviour = {})
        : model(std::move(behaviour)), events_(events) {}

    bool write(const uint8_t* data, size_t length) override {
        if (!open_) {
            ++refusedCalls;
            return false;
        }
        bytesWritten += length;
        const auto answer = model.feed(data, length);
        input_.insert(input_.end(), answer.begin(), answer.end());
        return true;
    }

    size_t read(uint8_t* buf, size_t n, int timeoutMs) override {
        if (!open_) {
            ++refusedCalls;
            return 0;
        }
        const size_t got = std::min(n, input_.size());
        std::copy_n(input_.begin(), got, buf);
        input_.erase(input_.begin(), input_.begin() + static_cast<long>(got));
        if (got < n && timeoutMs > 0) {
            ++timeouts;
            timeoutsWaited += timeoutMs;
        }
        return got;
    }

    bool reopen(int baud) override {
        close();
        const bool ok = !failingBauds.count(baud);
        events_.push_back("open " + std::to_string(baud) + (ok ? "" : " failed"));
        if (ok) {
            open_ = true;
            model.setBaud(baud);
        }
        return ok;
    }

    void close() override {
        if (open_) events_.push_back("close");
        open_ = false;
        input_.clear();
    }

    void delayMs(int ms) override { delays.push_back(ms); }
    std::string openFailureReason() const override { return failureReason; }

    int totalDelay() const {
        int sum = 0;
        for (int d : delays)
            sum += d;
        return sum;
    }
    bool isOpen() const { return open_; }

    LoaderModel model;
    std::set<int> failingBauds;
    std::string failureReason; // what openFailureReason() says
    size_t bytesWritten = 0;
    int refusedCalls = 0; // reads and writes made while the line was not open
    int timeouts = 0;     // reads that came back short
    long timeoutsWaited = 0;
    std::vector<int> delays;

private:
    Events& events_;
    bool open_ = false;
    std::deque<uint8_t> input_;
};

class RecordingUi : public DownloadUi {
public:
    explicit RecordingUi(Events& events) : events_(events) {}

    MsgResult message(const std::string& text, const std::string& caption, MsgButtons buttons,
                      MsgIcon icon) override {
        static const char* icons[] = {"none", "information", "warning", "error"};
        events_.push_back("message '" + text + "' " + caption +
                          (buttons == MsgButtons::OkCancel ? " ok-cancel " : " ok ") +
                          icons[static_cast<int>(icon)] + (progressOpen ? " over-progress" : ""));
        return buttons == MsgButtons::OkCancel ? promptAnswer : MsgResult::Ok;
    }
    std::optional<std::string> chooseImageFile(const ImageFileRequest& r) override {
        request = r;
        events_.push_back("choose file");
        return chosenPath;
    }
    void invalidateMainWindow() override { events_.push_back("invalidate"); }
    void openProgress() override {
        progressOpen = true;
        events_.push_back("progress open");
    }
    void setProgressCaption(const std::string& c) override {
        caption = c;
        events_.push_back("progress caption");
    }
    void setProgressRange(int lower, int upper) override {
        rangeLower = lower;
        rangeUpper = upper;
    }
    void setProgressStep(int s) override { step = s; }
    void stepProgress() override { ++steps; }
    void closeProgress() override {
        progressOpen = false;
        events_.push_back("progress close");
    }
    bool pumpEvents() override {
        ++pumps;
        return false;
    }

    MsgResult promptAnswer = MsgResult::Ok;
    std::optional<std::string> chosenPath;
    std::optional<ImageFileRequest> request;
    bool progressOpen = false;
    std::string caption;
    int rangeLower = -1, rangeUpper = -1, step = 0, steps = 0, pumps = 0;

private:
    Events& events_;
};

class RecordingLink : public LinkControl {
public:
    explicit RecordingLink(Events& events) : events_(events) {}
    void stopLink() override { events_.push_back("stop link"); }

private:
    Events& events_;
};

} // namespace norvex::download::testing
