#include "batch.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

class Reporter {
public:
    Reporter(std::size_t total, bool progress) : total_(total), progress_(progress) {}

    void finished(const RenderJob& job, const QString& error)
    {
        const std::lock_guard lock(mutex_);
        ++done_;
        if (!error.isEmpty()) {
            ++failed_;
            clearProgress();
            std::fprintf(stderr, "%s: %s: %s\n", qPrintable(QCoreApplication::applicationName()),
                         qPrintable(job.shownName), qPrintable(error));
        }
        if (progress_) {
            const double seconds = std::chrono::duration<double>(clock::now() - start_).count();
            std::fprintf(stderr, "\r%zu done, %zu left, %.1f s", done_, total_ - done_, seconds);
            shown_ = true;
        }
    }

    int failed() const { return int(failed_); }
    ~Reporter() { clearProgress(); }

private:
    using clock = std::chrono::steady_clock;

    void clearProgress()
    {
        if (shown_)
            std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

    std::mutex mutex_;
    std::size_t total_;
    bool progress_;
    bool shown_ = false;
    std::size_t done_ = 0;
    std::size_t failed_ = 0;
    clock::time_point start_ = clock::now();
};

} // namespace

int runBatch(const std::vector<RenderJob>& jobs, const Options& options)
{
    const int workers = std::max(1, std::min(options.jobs, int(jobs.size())));
    const int threadsPerImage = std::max(1, options.jobs / workers);
    Reporter reporter(jobs.size(), !options.quiet && isatty(STDERR_FILENO));
    {
        std::atomic<std::size_t> next{0};
        const auto work = [&] {
            for (std::size_t i = next++; i < jobs.size(); i = next++)
                reporter.finished(jobs[i], renderJob(jobs[i], options, threadsPerImage));
        };
        std::vector<std::jthread> pool;
        for (int w = 1; w < workers; ++w)
            pool.emplace_back(work);
        work();
    }
    return reporter.failed();
}
