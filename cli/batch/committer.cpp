// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/committer.h"

#include <cstdint>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace batch {

Committer::Committer() : ready_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    thread_ = std::thread([this] { work(); });
}

Committer::~Committer()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        waiting_.clear();
    }
    wake_.notify_one();
    thread_.join();
    ::close(ready_);
}

void Committer::hand(std::size_t index, std::unique_ptr<fileio::OutputFile> output, Outcome outcome)
{
    {
        const std::lock_guard lock(mutex_);
        waiting_.push_back({index, std::move(output), std::move(outcome)});
    }
    wake_.notify_one();
}

std::vector<Committer::Placed> Committer::takePlaced()
{
    std::uint64_t count = 0;
    (void)::read(ready_, &count, sizeof count);
    const std::lock_guard lock(mutex_);
    return std::exchange(placed_, {});
}

bool Committer::busy()
{
    const std::lock_guard lock(mutex_);
    return !waiting_.empty() || inHand_ > 0 || !placed_.empty();
}

void Committer::work()
{
    for (;;) {
        std::deque<Handed> taken;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !waiting_.empty(); });
            if (stopping_)
                return;
            taken.swap(waiting_);
            inHand_ = taken.size();
        }
        for (Handed& handed : taken)
            handed.output->startWriting();
        std::vector<Placed> done;
        for (Handed& handed : taken) {
            const Error error = handed.output->commit();
            done.push_back({handed.index, error ? Outcome::failed(error) : handed.outcome});
            handed.output.reset();
        }
        {
            const std::lock_guard lock(mutex_);
            for (Placed& placed : done)
                placed_.push_back(std::move(placed));
            inHand_ = 0;
        }
        const std::uint64_t one = 1;
        (void)::write(ready_, &one, sizeof one);
    }
}

} // namespace batch
