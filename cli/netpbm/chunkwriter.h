// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace netpbm {

// Writes chunks on one thread of its own, so that writing one chunk overlaps
// reading and mapping the next. Two buffers take turns: each put hands one
// over and gets back the one written before. Once a write fails, nothing
// more is written and every later call returns that error.
class ChunkWriter {
public:
    using Write = std::function<Error(const char* data, std::size_t size)>;

    explicit ChunkWriter(Write write);
    ~ChunkWriter();
    ChunkWriter(const ChunkWriter&) = delete;
    ChunkWriter& operator=(const ChunkWriter&) = delete;

    // Hands over the first `size` bytes of `chunk` and puts a free buffer (of
    // any size) in its place; waits while the chunk before is being written.
    // Returns the first write error so far.
    Error put(std::vector<char>& chunk, std::size_t size);
    // Waits until everything handed over is written; returns the first error.
    Error finish();

private:
    void run();

    Write write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> pending_;
    std::size_t pendingSize_ = 0;
    bool hasPending_ = false;
    bool stopping_ = false;
    Error error_;
    std::thread thread_; // last: it starts once the rest is ready
};

} // namespace netpbm
