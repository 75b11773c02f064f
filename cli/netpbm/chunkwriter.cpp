// SPDX-License-Identifier: GPL-3.0-or-later
#include "netpbm/chunkwriter.h"

#include <utility>

namespace netpbm {

ChunkWriter::ChunkWriter(Write write) : write_(std::move(write)), thread_([this] { run(); }) {}

ChunkWriter::~ChunkWriter() { (void)finish(); }

Error ChunkWriter::put(std::vector<char>& chunk, std::size_t size)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !hasPending_; });
    if (error_)
        return error_;
    std::swap(chunk, pending_);
    pendingSize_ = size;
    hasPending_ = true;
    changed_.notify_all();
    return {};
}

Error ChunkWriter::finish()
{
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !hasPending_; });
        stopping_ = true;
        changed_.notify_all();
    }
    if (thread_.joinable())
        thread_.join();
    return error_;
}

void ChunkWriter::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return hasPending_ || stopping_; });
        if (!hasPending_)
            return;
        // The caller waits for hasPending_ to clear before touching pending_.
        lock.unlock();
        Error error = write_(pending_.data(), pendingSize_);
        lock.lock();
        if (!error_)
            error_ = std::move(error);
        hasPending_ = false;
        changed_.notify_all();
    }
}

} // namespace netpbm
