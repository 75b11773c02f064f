// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "png/pngimage.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace png {

class BlockDeflate;
class RowFilter;

// Writes a PNG from rows given in order, deflating on several threads.
// Each row is filtered as libpng chooses by default; the filtered rows are
// deflated in blocks on the threads and written as IDAT chunks, in one zlib
// stream whose size is within a fraction of a percent of a one-piece encode.
// The file depends on the pixels and options alone, not on the thread count.
// Memory stays at a few blocks whatever the image's size.
//
// Rows hold width x channels samples: bytes at depth 8, native-endian
// 16-bit integers at depth 16. The first failure, of the image's
// description or of `write`, is returned by that call and every later one;
// nothing more is written after it.
class PngWriter {
public:
    using Write = std::function<Error(const char* data, std::size_t size)>;

    struct Options {
        int level = 6;   // zlib's 0..9
        int threads = 1; // threads that deflate; 1 deflates on the caller's
        std::size_t blockBytes = std::size_t{256} << 10; // filtered bytes per block
        // Each row's filter chosen as libpng chooses (smaller files); without,
        // no filter (much faster, as libvips's PNG saver writes by default).
        bool adaptiveFilters = true;
        // Chunks written before the image data and after it, in order.
        std::vector<PngChunk> beforeImage;
        std::vector<PngChunk> afterImage;
    };

    PngWriter(PngImage image, Options options, Write write);
    ~PngWriter();
    PngWriter(const PngWriter&) = delete;
    PngWriter& operator=(const PngWriter&) = delete;

    // The next `count` rows, `stride` bytes apart.
    Error putRows(const void* rows, std::size_t stride, std::uint32_t count);
    // Ends the image once all its rows are in, and writes what follows them.
    Error finish();

private:
    Error start();
    Error writeChunk(const char* type, const unsigned char* data, std::size_t size);
    Error writeChunks(const std::vector<PngChunk>& chunks);

    PngImage image_;
    Options options_;
    Write write_;
    Error error_;
    bool started_ = false;
    bool finished_ = false;
    std::uint32_t rowsDone_ = 0;
    std::size_t rowBytes_ = 0;
    std::unique_ptr<RowFilter> filter_;
    std::unique_ptr<BlockDeflate> deflate_;
};

} // namespace png
