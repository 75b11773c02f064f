#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// Runs work(0) .. work(count - 1) on a fixed pool of `workers` threads (the
// calling thread among them), each index once. Whatever a call throws
// becomes that index's error text, so no exception leaves a thread.
// `finished` is called, one call at a time, as each index completes.
void runPool(std::size_t count, int workers, const std::function<std::string(std::size_t)>& work,
             const std::function<void(std::size_t, const std::string&)>& finished);

// Reports each failure as one line on standard error naming its input, and
// on a terminal, unless quiet, progress and a closing summary.
class Reporter {
public:
    Reporter(std::size_t total, bool quiet);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    void finished(const std::string& input, const std::string& error);
    std::size_t failed() const { return failed_; }
    // "N rendered, N skipped, N failed, S s", for a batch that skipped `skipped` inputs.
    void summarise(std::size_t skipped);

private:
    void clearProgress();

    std::size_t total_;
    bool progress_;
    bool shown_ = false;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    double start_;
};
