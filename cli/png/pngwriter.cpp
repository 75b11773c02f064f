// SPDX-License-Identifier: GPL-3.0-or-later
#include "png/pngwriter.h"

#include "png/blockdeflate.h"
#include "png/rowfilter.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <new>
#include <string>

namespace png {

namespace {

constexpr std::uint32_t largestLength = 0x7fffffff; // the format's limit on sizes and lengths

void putBigEndian(unsigned char* out, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<unsigned char>(value >> (24 - 8 * i));
}

// Chunks the writer makes itself, or that describe an image it never
// writes (a palette), which a caller may not add.
bool ownChunk(const std::string& type)
{
    return type == "IHDR" || type == "PLTE" || type == "tRNS" || type == "IDAT" || type == "IEND";
}

Error checkChunks(const std::vector<PngChunk>& chunks)
{
    for (const PngChunk& chunk : chunks) {
        const bool letters =
            chunk.type.size() == 4 && std::all_of(chunk.type.begin(), chunk.type.end(), [](char c) {
                return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            });
        if (!letters || ownChunk(chunk.type))
            return Error("PNG: cannot add a chunk of type \"" + chunk.type + "\"");
        if (chunk.data.size() > largestLength)
            return Error("PNG: the " + chunk.type + " chunk is too long");
    }
    return {};
}

Error checkImage(const PngImage& image, const PngWriter::Options& options)
{
    const PngColour colour = image.colour;
    if (image.width == 0 || image.height == 0 || image.width > largestLength ||
        image.height > largestLength)
        return Error("PNG: cannot write an image of " + std::to_string(image.width) + " x " +
                     std::to_string(image.height));
    if (pngChannels(colour) == 0)
        return Error("PNG: unknown colour type");
    if (image.bitDepth != 8 && image.bitDepth != 16)
        return Error("PNG: cannot write depth " + std::to_string(image.bitDepth));
    if (options.level < 0 || options.level > 9)
        return Error("PNG: compression level " + std::to_string(options.level) + " outside 0..9");
    if (Error error = checkChunks(options.beforeImage))
        return error;
    return checkChunks(options.afterImage);
}

} // namespace

PngWriter::PngWriter(PngImage image, Options options, Write write)
    : image_(image), options_(std::move(options)), write_(std::move(write))
{
}

PngWriter::~PngWriter() = default;

Error PngWriter::start()
{
    started_ = true;
    if (Error error = checkImage(image_, options_))
        return error;
    const std::size_t bytesPerPixel =
        static_cast<std::size_t>(pngChannels(image_.colour)) * (image_.bitDepth / 8);
    rowBytes_ = bytesPerPixel * image_.width;
    // Filtered rows are deflated as libpng does them, and zlib is told so.
    const bool adaptive = options_.adaptiveFilters;
    filter_ = std::make_unique<RowFilter>(rowBytes_, bytesPerPixel, adaptive);
    deflate_ = std::make_unique<BlockDeflate>(
        options_.level, adaptive ? Z_FILTERED : Z_DEFAULT_STRATEGY, options_.threads,
        options_.blockBytes, [this](const unsigned char* data, std::size_t size) {
            return writeChunk("IDAT", data, size);
        });

    static const unsigned char signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    if (Error error = write_(reinterpret_cast<const char*>(signature), sizeof signature))
        return error;
    unsigned char header[13];
    putBigEndian(header, image_.width);
    putBigEndian(header + 4, image_.height);
    header[8] = static_cast<unsigned char>(image_.bitDepth);
    header[9] = static_cast<unsigned char>(image_.colour);
    header[10] = header[11] = header[12] = 0; // deflate, adaptive filtering, not interlaced
    if (Error error = writeChunk("IHDR", header, sizeof header))
        return error;
    return writeChunks(options_.beforeImage);
}

Error PngWriter::putRows(const void* rows, std::size_t stride, std::uint32_t count)
{
    if (error_)
        return error_;
    try {
        if (!started_)
            error_ = start();
        if (!error_ && (finished_ || count > image_.height - rowsDone_))
            error_ = Error("PNG: more rows than the image's " + std::to_string(image_.height));
        const auto* row = static_cast<const unsigned char*>(rows);
        for (std::uint32_t i = 0; i < count && !error_; ++i, row += stride) {
            unsigned char* out = filter_->nextRow();
            if (image_.bitDepth == 8 || std::endian::native == std::endian::big) {
                std::memcpy(out, row, rowBytes_);
            } else {
                for (std::size_t j = 0; j < rowBytes_; j += 2) {
                    out[j] = row[j + 1];
                    out[j + 1] = row[j];
                }
            }
            const std::span<const unsigned char> filtered = filter_->filterRow();
            error_ = deflate_->append(filtered.data(), filtered.size());
            ++rowsDone_;
        }
    } catch (const std::bad_alloc&) {
        error_ = Error("PNG: out of memory for rows of " + std::to_string(rowBytes_) + " bytes");
    }
    return error_;
}

Error PngWriter::finish()
{
    if (error_ || finished_)
        return error_;
    if (!started_)
        error_ = start();
    if (!error_ && rowsDone_ != image_.height)
        error_ = Error("PNG: only " + std::to_string(rowsDone_) + " of " +
                       std::to_string(image_.height) + " rows were given");
    if (!error_)
        error_ = deflate_->finish();
    if (!error_)
        error_ = writeChunks(options_.afterImage);
    if (!error_)
        error_ = writeChunk("IEND", nullptr, 0);
    finished_ = true;
    return error_;
}

Error PngWriter::writeChunk(const char* type, const unsigned char* data, std::size_t size)
{
    if (size > largestLength)
        return Error(std::string("PNG: the ") + type + " chunk is too long");
    unsigned char head[8];
    putBigEndian(head, static_cast<std::uint32_t>(size));
    std::memcpy(head + 4, type, 4);
    unsigned char tail[4];
    uLong crc = crc32(0, head + 4, 4);
    if (size > 0) // crc32_z of no data gives zlib's starting value, not the CRC so far
        crc = crc32_z(crc, data, size);
    putBigEndian(tail, static_cast<std::uint32_t>(crc));
    if (Error error = write_(reinterpret_cast<const char*>(head), sizeof head))
        return error;
    if (size > 0)
        if (Error error = write_(reinterpret_cast<const char*>(data), size))
            return error;
    return write_(reinterpret_cast<const char*>(tail), sizeof tail);
}

Error PngWriter::writeChunks(const std::vector<PngChunk>& chunks)
{
    for (const PngChunk& chunk : chunks)
        if (Error error = writeChunk(chunk.type.c_str(), chunk.data.data(), chunk.data.size()))
            return error;
    return {};
}

} // namespace png
