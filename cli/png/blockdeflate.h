// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace png {

// Deflates one zlib stream in blocks on several threads. Each block is a raw
// deflate of its own, primed with the 32 KiB of data that precede it (so the
// ratio barely changes) and ended with a sync flush, the last with the
// stream's end; so the blocks, joined behind one zlib header and followed by
// the Adler-32 combined from theirs, are one valid zlib stream. The output
// depends on the data, level and block size alone, never on the thread count.
//
// The caller appends data and receives the stream, in order, through
// `output`, one call per block, on its own thread; at most two blocks per
// thread are in flight. Once anything fails, every later call returns that
// error.
class BlockDeflate {
public:
    using Output = std::function<Error(const unsigned char* data, std::size_t size)>;

    // `level` 0..9 and `strategy` as zlib takes them; `threads` 1 deflates on
    // the caller's thread.
    BlockDeflate(int level, int strategy, int threads, std::size_t blockBytes, Output output);
    ~BlockDeflate();
    BlockDeflate(const BlockDeflate&) = delete;
    BlockDeflate& operator=(const BlockDeflate&) = delete;

    Error append(const unsigned char* data, std::size_t size);
    // Ends the stream and waits until all of it has gone to `output`.
    Error finish();

private:
    struct Job;
    class Stream;

    Error start();
    Error dispatch(bool last);
    // Hands finished blocks to `output` in order; with `wait`, waits for the
    // oldest one first.
    Error writeDone(bool wait);
    Error writeJob(Job& job);
    void work();
    void stop();

    const int level_;
    const int strategy_;
    const int threads_;
    const std::size_t blockBytes_;
    Output output_;
    Error error_;
    bool started_ = false;
    bool finished_ = false;

    // The caller's side: the block being filled, the last 32 KiB before it,
    // blocks in flight in stream order, and spent blocks to reuse.
    std::unique_ptr<Job> filling_;
    std::vector<unsigned char> history_;
    std::deque<std::unique_ptr<Job>> inFlight_;
    std::vector<std::unique_ptr<Job>> spare_;
    std::unique_ptr<Stream> ownStream_; // with one thread
    std::size_t blocksWritten_ = 0;
    unsigned long adler_ = 1;

    // Shared with the workers.
    std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable done_;
    std::deque<Job*> queue_;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace png
