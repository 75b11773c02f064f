// SPDX-License-Identifier: GPL-3.0-or-later
#include "png/blockdeflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>
#include <system_error>

namespace png {

namespace {

// Deflate looks back at most this far, so a block primed with this much of
// what precedes it compresses as it would inside one stream.
constexpr std::size_t window = 32768;
// Room left before a block's deflated bytes for the zlib header, and after
// them for the Adler-32 that ends the stream.
constexpr std::size_t headerBytes = 2;
constexpr std::size_t trailerBytes = 4;

} // namespace

struct BlockDeflate::Job {
    std::vector<unsigned char> dictionary;
    std::vector<unsigned char> input;
    // headerBytes, the deflated bytes up to outputEnd, then room for the trailer.
    std::vector<unsigned char> output;
    std::size_t outputEnd = 0;
    unsigned long adler = 1;
    bool last = false;
    bool done = false; // under mutex_ while in flight
    Error error;
};

// One z_stream, reset for each block, so a thread allocates its state once.
class BlockDeflate::Stream {
public:
    Stream(int level, int strategy)
    {
        ready_ = deflateInit2(&stream_, level, Z_DEFLATED, -15, 8, strategy) == Z_OK;
    }
    ~Stream()
    {
        if (ready_)
            deflateEnd(&stream_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    Error deflateBlock(Job& job)
    {
        if (!ready_ || deflateReset(&stream_) != Z_OK)
            return Error("cannot start zlib: out of memory");
        if (!job.dictionary.empty() &&
            deflateSetDictionary(&stream_, job.dictionary.data(),
                                 static_cast<uInt>(job.dictionary.size())) != Z_OK)
            return Error("zlib refused the block's dictionary");
        const auto size = static_cast<uInt>(job.input.size());
        job.adler = adler32(1, job.input.data(), size);
        // A sync flush adds an empty stored block (5 bytes) past the bound.
        const std::size_t need = headerBytes + deflateBound(&stream_, size) + 16 + trailerBytes;
        if (job.output.size() < need)
            job.output.resize(need);
        stream_.next_in = job.input.data();
        stream_.avail_in = size;
        stream_.next_out = job.output.data() + headerBytes;
        stream_.avail_out = static_cast<uInt>(job.output.size() - headerBytes - trailerBytes);
        const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
        for (;;) {
            const int status = deflate(&stream_, flush);
            if (status == Z_STREAM_ERROR)
                return Error("zlib failed while compressing");
            if (job.last ? status == Z_STREAM_END : stream_.avail_in == 0 && stream_.avail_out > 0)
                break;
            if (stream_.avail_out == 0) {
                const std::size_t used = stream_.next_out - job.output.data();
                job.output.resize(job.output.size() * 2);
                stream_.next_out = job.output.data() + used;
                stream_.avail_out = static_cast<uInt>(job.output.size() - used - trailerBytes);
            }
        }
        job.outputEnd = stream_.next_out - job.output.data();
        return {};
    }

private:
    z_stream stream_{};
    bool ready_ = false;
};

BlockDeflate::BlockDeflate(int level, int strategy, int threads, std::size_t blockBytes,
                           Output output)
    : level_(level), strategy_(strategy), threads_(std::max(threads, 1)),
      // zlib counts a block's bytes in 32 bits; larger blocks gain nothing.
      blockBytes_(std::clamp<std::size_t>(blockBytes, 1, std::size_t{64} << 20)),
      output_(std::move(output))
{
}

BlockDeflate::~BlockDeflate() { stop(); }

Error BlockDeflate::start()
{
    started_ = true;
    filling_ = std::make_unique<Job>();
    filling_->input.reserve(blockBytes_);
    history_.reserve(window);
    if (threads_ > 1) {
        try {
            for (int i = 0; i < threads_; ++i)
                workers_.emplace_back([this] { work(); });
        } catch (const std::system_error&) {
            // Work with the threads there are, or on the caller's own.
        }
    }
    if (workers_.empty())
        ownStream_ = std::make_unique<Stream>(level_, strategy_);
    return {};
}

Error BlockDeflate::append(const unsigned char* data, std::size_t size)
{
    if (error_)
        return error_;
    if (finished_)
        return error_ = Error("data added to a compressed stream after its end");
    try {
        if (!started_)
            error_ = start();
        while (!error_ && size > 0) {
            if (filling_->input.size() == blockBytes_) {
                error_ = dispatch(false);
                continue;
            }
            const std::size_t n = std::min(size, blockBytes_ - filling_->input.size());
            filling_->input.insert(filling_->input.end(), data, data + n);
            data += n;
            size -= n;
        }
    } catch (const std::bad_alloc&) {
        error_ = Error("out of memory while compressing");
    }
    return error_;
}

Error BlockDeflate::finish()
{
    if (error_ || finished_)
        return error_;
    try {
        if (!started_)
            error_ = start();
        if (!error_)
            error_ = dispatch(true);
        while (!error_ && !inFlight_.empty())
            error_ = writeDone(true);
    } catch (const std::bad_alloc&) {
        error_ = Error("out of memory while compressing");
    }
    finished_ = true;
    stop();
    return error_;
}

Error BlockDeflate::dispatch(bool last)
{
    std::unique_ptr<Job> job = std::move(filling_);
    job->last = last;
    job->done = false;
    job->dictionary.assign(history_.begin(), history_.end());
    if (!last) {
        // The next block's dictionary: the last `window` bytes so far.
        const std::vector<unsigned char>& input = job->input;
        const std::size_t fromInput = std::min(input.size(), window);
        const std::size_t fromHistory = std::min(history_.size(), window - fromInput);
        history_.erase(history_.begin(), history_.end() - static_cast<std::ptrdiff_t>(fromHistory));
        history_.insert(history_.end(), input.data() + input.size() - fromInput,
                        input.data() + input.size());
        if (spare_.empty()) {
            filling_ = std::make_unique<Job>();
            filling_->input.reserve(blockBytes_);
        } else {
            filling_ = std::move(spare_.back());
            spare_.pop_back();
            filling_->input.clear();
        }
    }
    if (ownStream_) {
        job->error = ownStream_->deflateBlock(*job);
        Error error = writeJob(*job);
        spare_.push_back(std::move(job));
        return error;
    }
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(job.get());
    }
    queued_.notify_one();
    inFlight_.push_back(std::move(job));
    // Two blocks per thread keep every thread busy while the caller fills the
    // next; more would only hold memory.
    Error error = writeDone(false);
    while (!error && inFlight_.size() >= 2 * workers_.size())
        error = writeDone(true);
    return error;
}

Error BlockDeflate::writeDone(bool wait)
{
    while (!inFlight_.empty()) {
        Job& job = *inFlight_.front();
        {
            std::unique_lock lock(mutex_);
            if (wait)
                done_.wait(lock, [&job] { return job.done; });
            else if (!job.done)
                return {};
        }
        wait = false;
        Error error = writeJob(job);
        spare_.push_back(std::move(inFlight_.front()));
        inFlight_.pop_front();
        if (error)
            return error;
    }
    return {};
}

Error BlockDeflate::writeJob(Job& job)
{
    if (job.error)
        return job.error;
    adler_ = adler32_combine(adler_, job.adler, static_cast<z_off_t>(job.input.size()));
    unsigned char* begin = job.output.data() + headerBytes;
    unsigned char* end = job.output.data() + job.outputEnd;
    if (blocksWritten_++ == 0) {
        // The zlib header as zlib writes it: 32 KiB window, the level's class, a check.
        const unsigned levelClass = strategy_ >= Z_HUFFMAN_ONLY || level_ < 2 ? 0
                                    : level_ < 6                              ? 1
                                    : level_ == 6                             ? 2
                                                                              : 3;
        unsigned header = (0x78u << 8) | (levelClass << 6);
        header += 31 - header % 31;
        begin -= headerBytes;
        begin[0] = static_cast<unsigned char>(header >> 8);
        begin[1] = static_cast<unsigned char>(header);
    }
    if (job.last) {
        for (int shift = 24; shift >= 0; shift -= 8)
            *end++ = static_cast<unsigned char>(adler_ >> shift);
    }
    return output_(begin, static_cast<std::size_t>(end - begin));
}

void BlockDeflate::work()
{
    Stream stream(level_, strategy_);
    std::unique_lock lock(mutex_);
    for (;;) {
        queued_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (queue_.empty())
            return;
        Job* job = queue_.front();
        queue_.pop_front();
        lock.unlock();
        Error error;
        try {
            error = stream.deflateBlock(*job);
        } catch (const std::bad_alloc&) {
            error = Error("out of memory while compressing");
        }
        lock.lock();
        job->error = std::move(error);
        job->done = true;
        done_.notify_all();
    }
}

void BlockDeflate::stop()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        queue_.clear(); // blocks never started are not wanted any more
    }
    queued_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
}

} // namespace png
