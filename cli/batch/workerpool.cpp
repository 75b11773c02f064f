#include "batch/workerpool.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <thread>
#include <vector>

namespace {

Error guarded(const PoolWork& work, std::size_t index, bool alone)
{
    try {
        return work(index, alone);
    } catch (const std::exception& error) {
        return Error(std::string("failed: ") + error.what());
    } catch (...) {
        return Error("failed for a reason nobody described");
    }
}

} // namespace

void runPool(std::size_t count, int workers, const PoolWork& work,
             const std::function<void(std::size_t, const Error&)>& finished)
{
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    // Work that runs alone holds this exclusively, the rest shares it.
    std::shared_mutex running;
    const bool together = workers > 1 && count > 1;
    const auto worker = [&] {
        for (std::size_t i = next++; i < count; i = next++) {
            Error error;
            {
                const std::shared_lock shared(running);
                error = guarded(work, i, !together);
            }
            if (together && error.fromLibvips()) {
                const std::unique_lock alone(running);
                error = guarded(work, i, true);
            }
            const std::lock_guard lock(reporting);
            finished(i, error);
        }
    };
    std::vector<std::jthread> pool;
    for (int w = 1; w < workers && std::size_t(w) < count; ++w)
        pool.emplace_back(worker);
    worker();
}
