#include "batch.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <mutex>
#include <thread>
#include <unistd.h>

namespace {

double now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::string guarded(const std::function<std::string(std::size_t)>& work, std::size_t index)
{
    try {
        return work(index);
    } catch (const std::exception& error) {
        return std::string("failed: ") + error.what();
    } catch (...) {
        return "failed for a reason nobody described";
    }
}

} // namespace

void runPool(std::size_t count, int workers, const std::function<std::string(std::size_t)>& work,
             const std::function<void(std::size_t, const std::string&)>& finished)
{
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            const std::string error = guarded(work, i);
            const std::lock_guard lock(reporting);
            finished(i, error);
        }
    };
    std::vector<std::jthread> pool;
    for (int w = 1; w < workers && std::size_t(w) < count; ++w)
        pool.emplace_back(worker);
    worker();
}

Reporter::Reporter(std::size_t total, bool quiet)
    : total_(total), progress_(!quiet && isatty(STDERR_FILENO)), start_(now())
{
}

Reporter::~Reporter() { clearProgress(); }

void Reporter::finished(const std::string& input, const std::string& error)
{
    ++done_;
    if (!error.empty()) {
        ++failed_;
        clearProgress();
        std::fprintf(stderr, "inverse-logistic-render: %s: %s\n", input.c_str(), error.c_str());
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
