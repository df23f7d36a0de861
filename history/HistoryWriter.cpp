// SPDX-License-Identifier: GPL-3.0-or-later
#include "history/HistoryWriter.h"

namespace norvex::history {

HistoryWriter::HistoryWriter(std::string url, std::function<void()> ready, std::string outboxPath)
    : ready_(std::move(ready)), history_(url, std::move(outboxPath)), url_(std::move(url)) {
    thread_ = std::thread([this] { run(); });
}

HistoryWriter::~HistoryWriter() {
    (void)finish();
}

std::string HistoryWriter::url() const {
    std::lock_guard<std::mutex> lk(m_);
    return url_;
}

void HistoryWriter::push(Job job) {
    {
        std::unique_lock<std::mutex> lk(m_);
        if (finished_ && job.kind == Job::Kind::Store) {
            // Nothing is dropped for having come late: stored here, as the thread would have.
            WriteResult result;
            result.report = history_.store(job.reading);
            result.where = displayUrl(history_.url());
            result.outbox = history_.outboxPath();
            results_.push_back(std::move(result));
            return;
        }
        if (stopping_) return;
        if (job.kind == Job::Kind::Reopen) url_ = job.url;
        jobs_.push_back(std::move(job));
    }
    cv_.notify_all();
}

void HistoryWriter::store(Reading reading) {
    Job job;
    job.reading = std::move(reading);
    push(std::move(job));
}

void HistoryWriter::reopen(const std::string& url) {
    Job job;
    job.kind = Job::Kind::Reopen;
    job.url = url;
    push(std::move(job));
}

void HistoryWriter::sendKept() {
    Job job;
    job.kind = Job::Kind::Send;
    push(std::move(job));
}

std::vector<WriteResult> HistoryWriter::takeResults() {
    std::lock_guard<std::mutex> lk(m_);
    std::vector<WriteResult> out;
    out.swap(results_);
    return out;
}

void HistoryWriter::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lk(m_);
            cv_.wait(lk, [&] { return stopping_ || !jobs_.empty(); });
            // What was asked for before the stop is still done.
            if (jobs_.empty()) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        WriteResult result;
        switch (job.kind) {
        case Job::Kind::Reopen:
            history_.reopen(job.url);
            continue;
        case Job::Kind::Send: {
            result.sending = true;
            Fault fault;
            if (!history_.flush(result.report.sent, fault)) {
                result.report.outcome = StoreOutcome::KeptLocally;
                result.report.fault = fault;
            }
            break;
        }
        case Job::Kind::Store:
            result.report = history_.store(job.reading);
            break;
        }
        result.where = displayUrl(history_.url());
        result.outbox = history_.outboxPath();
        {
            std::lock_guard<std::mutex> lk(m_);
            results_.push_back(std::move(result));
        }
        if (ready_) ready_();
    }
}

Waiting HistoryWriter::finish() {
    {
        std::lock_guard<std::mutex> lk(m_);
        if (finished_) return waiting_;
        stopping_ = true;
    }
    cv_.notify_all();
    if (thread_.joinable()) thread_.join();
    // The thread is gone: the history is this thread's now. Readings held in memory get a
    // last chance to reach the outbox.
    history_.keepHeld();
    const Waiting waiting = history_.waiting();
    std::lock_guard<std::mutex> lk(m_);
    waiting_ = waiting;
    finished_ = true;
    return waiting_;
}

} // namespace norvex::history
