#include "batch/reporter.h"

#include <chrono>
#include <cstdio>
#include <unistd.h>

namespace batch {

namespace {

// Outputs that exist already are named up to this many; the rest are counted.
constexpr std::size_t existingNamed = 3;

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string seconds(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", value);
    return text;
}

} // namespace

Reporter::Reporter(bool quiet) : progress_(!quiet && isatty(STDERR_FILENO)), start_(now()) {}

Reporter::~Reporter() { clearProgress(); }

void Reporter::planning(std::size_t planned, std::size_t total)
{
    // A terminal is redrawn a few times a second, not once per input.
    if (!progress_ || now() - lastShown_ < 0.2)
        return;
    show("planning: " + std::to_string(planned) + " of " + std::to_string(total) + " inputs, " +
         seconds(now() - start_));
}

void Reporter::rendering(std::size_t total)
{
    total_ = done_ + total; // what failed before rendering counts as done
    clearProgress();
}

void Reporter::finished(const std::string& input, const Outcome& outcome)
{
    ++done_;
    skipped_ += outcome.kind() == Outcome::Kind::Skipped ? 1 : 0;
    failed_ += outcome.failed() ? 1 : 0;
    if (outcome.kind() == Outcome::Kind::OutputExists && ++existing_ > existingNamed) {
        // A resumed batch would otherwise say so once per file.
    } else if (outcome.failed() || outcome.kind() == Outcome::Kind::Warned) {
        clearProgress();
        std::fprintf(stderr, "inverse-logistic-render: %s: %s%s\n", input.c_str(),
                     outcome.failed() ? "" : "warning: ", outcome.reason().c_str());
    }
    show(std::to_string(done_) + " done, " + std::to_string(total_ - done_) + " left, " +
         seconds(now() - start_));
}

void Reporter::working(const std::string& input, std::uint64_t pictures)
{
    if (!progress_ || now() - lastShown_ < 0.2)
        return;
    show(std::to_string(done_) + " done, " + std::to_string(total_ - done_) + " left, " + input +
         ": " + std::to_string(pictures) + " pictures, " + seconds(now() - start_));
}

void Reporter::told(const std::string& line)
{
    clearProgress();
    std::fprintf(stderr, "%s\n", line.c_str());
}

void Reporter::summarise(std::size_t skipped)
{
    if (existing_ > existingNamed) {
        clearProgress();
        std::fprintf(stderr,
                     "inverse-logistic-render: %zu more outputs already exist (use -y to "
                     "replace them, or --skip-existing to render only what is missing)\n",
                     existing_ - existingNamed);
    }
    if (!progress_)
        return;
    clearProgress();
    std::fprintf(stderr, "%zu rendered, %zu skipped, %zu failed, %s\n", done_ - failed_ - skipped_,
                 skipped + skipped_, failed_, seconds(now() - start_).c_str());
}

void Reporter::show(const std::string& progress)
{
    if (!progress_)
        return;
    std::fprintf(stderr, "\r%s\033[K", progress.c_str());
    shown_ = true;
    lastShown_ = now();
}

void Reporter::clearProgress()
{
    if (shown_)
        std::fprintf(stderr, "\r\033[K");
    shown_ = false;
}

} // namespace batch
