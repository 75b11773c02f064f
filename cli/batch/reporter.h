#pragma once

#include "error.h"

#include <cstddef>
#include <string>

// Reports each failure as one line on standard error naming its input, and
// on a terminal, unless quiet, progress and a closing summary.
class Reporter {
public:
    Reporter(std::size_t total, bool quiet);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    void finished(const std::string& input, const Error& error);
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
