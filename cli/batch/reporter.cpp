#include "batch/reporter.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

Reporter::Reporter(std::size_t total, bool quiet)
    : total_(total), progress_(!quiet && isatty(STDERR_FILENO)), start_(now())
{
}

Reporter::~Reporter() { clearProgress(); }

void Reporter::finished(const std::string& input, const Error& error)
{
    ++done_;
    if (error) {
        ++failed_;
        clearProgress();
        std::fprintf(stderr, "inverse-logistic-render: %s: %s\n", input.c_str(),
                     error.reason().c_str());
    }
    if (progress_) {
        std::fprintf(stderr, "\r%zu done, %zu left, %.1f s", done_, total_ - done_, now() - start_);
        shown_ = true;
    }
}

void Reporter::summarise(std::size_t skipped)
{
    if (!progress_)
        return;
    clearProgress();
    std::fprintf(stderr, "%zu rendered, %zu skipped, %zu failed, %.1f s\n", done_ - failed_,
                 skipped, failed_, now() - start_);
}

void Reporter::clearProgress()
{
    if (shown_)
        std::fprintf(stderr, "\r\033[K");
    shown_ = false;
}
