// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The service history on a thread of its own, so that a slow or stuck history never holds up
// the window (or the batch run's loop): readings are handed over and stored in the order given;
// what came of each is collected for the caller's thread, which `ready` is asked to wake (from
// the writer's thread: it must only post).

#include "history/History.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace norvex::history {

struct WriteResult {
    StoreReport report;
    std::string where;    // the history as it may be shown
    std::string outbox;   // the outbox file
    bool sending = false; // a request to send kept readings, not a reading of its own
};

class HistoryWriter {
public:
    HistoryWriter(std::string url, std::function<void()> ready, std::string outboxPath = {});
    ~HistoryWriter();
    HistoryWriter(const HistoryWriter&) = delete;
    HistoryWriter& operator=(const HistoryWriter&) = delete;

    std::string url() const;
    // Each returns at once; the work is done in the order asked for.
    void store(Reading reading);
    void reopen(const std::string& url);
    void sendKept();

    // What came of the work done so far (each result once).
    std::vector<WriteResult> takeResults();
    // Waits until everything asked for is done, tries once more what is held in memory, and
    // tells what still waits. The writer takes no more work afterwards.
    Waiting finish();

private:
    struct Job {
        enum class Kind { Store, Reopen, Send } kind = Kind::Store;
        Reading reading;
        std::string url;
    };
    void run();
    void push(Job job);

    std::function<void()> ready_;
    History history_; // used on the writer's thread only (and in finish(), once it has stopped)
    mutable std::mutex m_;
    std::condition_variable cv_;
    std::deque<Job> jobs_;
    std::vector<WriteResult> results_;
    std::string url_;
    bool stopping_ = false;
    bool finished_ = false;
    Waiting waiting_;
    std::thread thread_;
};

} // namespace norvex::history
