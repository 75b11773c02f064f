#pragma once

#include "outcome.h"

#include <cstddef>
#include <string>

namespace batch {

// Reports each failure as one line on standard error naming its input, and
// on a terminal, unless quiet, progress (while planning, then rendering)
// and a closing summary whose time counts from the start, planning included.
class Reporter {
public:
    explicit Reporter(bool quiet);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // Before each input is planned.
    void planning(std::size_t planned, std::size_t total);
    // When the rendering of `total` jobs starts.
    void rendering(std::size_t total);
    // A job's outcome: a failure or a warning is a line naming `input`
    // (outputs that exist already: the first few, then how many more).
    void finished(const std::string& input, const Outcome& outcome);
    // A film being rendered has written `pictures` of its pictures.
    void working(const std::string& input, std::uint64_t pictures);
    // With -v, a line for each image rendered.
    void told(const std::string& line);
    std::size_t failed() const { return failed_; }
    // How many more outputs existed than were named, then, on a terminal
    // unless quiet, "N rendered, N skipped, N failed, S s", with `skipped`
    // more skipped when planning.
    void summarise(std::size_t skipped);

private:
    void show(const std::string& progress);
    void clearProgress();

    bool progress_;
    bool shown_ = false;
    std::size_t total_ = 0;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    std::size_t skipped_ = 0;
    std::size_t existing_ = 0; // outputs that exist already
    double start_;
    double lastShown_ = 0.0;
};

} // namespace batch
