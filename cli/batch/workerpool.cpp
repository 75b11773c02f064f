#include "batch/workerpool.h"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

namespace {

Error guarded(const PoolWork& work, std::size_t index, int slot)
{
    try {
        return work(index, slot);
    } catch (const std::exception& error) {
        return Error(std::string("failed: ") + error.what());
    } catch (...) {
        return Error("failed for a reason nobody described");
    }
}

} // namespace

void runPool(std::size_t count, int workers, const PoolWork& work,
             const std::function<void(std::size_t, const Error&)>& finished,
             const std::function<bool()>& stop)
{
    std::atomic<std::size_t> next{0};
    std::mutex reporting;
    const auto worker = [&](int slot) {
        for (std::size_t i = next++; i < count && !(stop && stop()); i = next++) {
            const Error error = guarded(work, i, slot);
            const std::lock_guard lock(reporting);
            finished(i, error);
        }
    };
    std::vector<std::jthread> pool;
    for (int w = 1; w < workers && std::size_t(w) < count; ++w)
        pool.emplace_back(worker, w);
    worker(0);
}
