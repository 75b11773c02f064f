// SPDX-License-Identifier: GPL-3.0-or-later
#include "netpbm/netpbm.h"

#include "leveltable.h"
#include "netpbm/chunkwriter.h"
#include "samplemapper.h"

#include <bit>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace netpbm {

namespace {

constexpr std::size_t chunkTarget = 4 << 20;

struct Header {
    char kind;
    std::uint64_t width;
    std::uint64_t height;
    int maxval;

    int channels() const { return kind == '6' ? 3 : 1; }
    int bytesPerSample() const { return maxval > 255 ? 2 : 1; }
    std::uint64_t pixelBytes() const { return std::uint64_t(channels()) * bytesPerSample(); }
};

// The input, read in blocks so that the header can be taken a byte at a time.
class Input {
public:
    Input(std::string_view start, const Read& read) : buffer_(start), read_(read) {}

    // The next byte, or nothing at the end of the stream or on an error.
    std::optional<char> get()
    {
        if (position_ == buffer_.size()) {
            buffer_.resize(std::size_t(64) * 1024);
            const std::ptrdiff_t n = read(buffer_.data(), buffer_.size());
            buffer_.resize(n > 0 ? std::size_t(n) : 0);
            position_ = 0;
            if (n <= 0)
                return std::nullopt;
        }
        return buffer_[position_++];
    }

    // Why the stream stopped early: a read that failed, or its end.
    Error stopped(const std::string& atEnd) const
    {
        return readError_ != 0
                   ? Error("cannot read the input: " + std::string(std::strerror(readError_)))
                   : Error(atEnd);
    }

    std::size_t buffered() const { return buffer_.size() - position_; }

    // Fills `size` bytes; false when the stream ends first or fails.
    bool fill(char* data, std::size_t size)
    {
        const std::size_t buffered = std::min(size, buffer_.size() - position_);
        std::memcpy(data, buffer_.data() + position_, buffered);
        position_ += buffered;
        for (std::size_t done = buffered; done < size;) {
            const std::ptrdiff_t n = read(data + done, size - done);
            if (n <= 0)
                return false;
            done += std::size_t(n);
        }
        return true;
    }

private:
    std::ptrdiff_t read(char* data, std::size_t size)
    {
        const std::ptrdiff_t n = read_(data, size);
        if (n < 0)
            readError_ = errno;
        return n;
    }

    int readError_ = 0;
    std::string buffer_;
    std::size_t position_ = 0;
    const Read& read_;
};

// Reads one decimal field of the header, skipping whitespace and comments.
std::optional<std::uint64_t> readField(Input& input)
{
    std::optional<char> c;
    for (;;) {
        if (!(c = input.get()))
            return std::nullopt;
        if (*c == '#') {
            while (*c != '\n' && *c != '\r')
                if (!(c = input.get()))
                    return std::nullopt;
        } else if (!std::isspace(static_cast<unsigned char>(*c))) {
            break;
        }
    }
    std::uint64_t value = 0;
    int digits = 0;
    while (c && std::isdigit(static_cast<unsigned char>(*c))) {
        if (++digits > 10)
            return std::nullopt;
        value = value * 10 + std::uint64_t(*c - '0');
        c = input.get();
    }
    // The one whitespace character that ends the field is consumed with it.
    if (digits == 0 || !c || !std::isspace(static_cast<unsigned char>(*c)))
        return std::nullopt;
    return value;
}

std::optional<Header> readHeader(char kind, Input& input, std::uint64_t maxPixels, Error& error)
{
    const auto width = readField(input);
    const auto height = readField(input);
    const auto maxval = readField(input);
    if (!width || !height || !maxval) {
        error = input.stopped("damaged Netpbm header");
        return std::nullopt;
    }
    if (*width < 1 || *height < 1 || *width > (1 << 30) || *height > (1 << 30)) {
        error = Error("unusable size " + std::to_string(*width) + " x " + std::to_string(*height));
        return std::nullopt;
    }
    if (maxPixels != 0 && *width * *height > maxPixels) {
        error = Error("refused: " + std::to_string(*width) + " x " + std::to_string(*height) +
                      " pixels is more than --max-pixels " + std::to_string(maxPixels));
        return std::nullopt;
    }
    if (*maxval < 1 || *maxval > 65535) {
        error = Error("maximum sample value " + std::to_string(*maxval) + " outside 1..65535");
        return std::nullopt;
    }
    return Header{kind, *width, *height, int(*maxval)};
}

// The start of the next image: false at a clean end of the stream.
bool nextMagic(Input& input, char& kind, Error& error)
{
    std::optional<char> c = input.get();
    // Some writers put a line break between the images of a stream.
    while (c && std::isspace(static_cast<unsigned char>(*c)))
        c = input.get();
    if (!c)
        return false;
    const std::optional<char> second = input.get();
    if (*c != 'P' || !second || (*second != '5' && *second != '6')) {
        error = Error("the stream goes on with something that is not a binary PPM or PGM image");
        return false;
    }
    kind = *second;
    return true;
}

// Applies the level table to a chunk of samples: 16-bit ones as they lie in
// the file, most significant byte first.
void mapSamples(const transform::SampleMapper& mapper, char* data, std::size_t size,
                const Header& header)
{
    if (header.bytesPerSample() == 1) {
        auto* samples = reinterpret_cast<std::uint8_t*>(data);
        mapper.map(samples, samples, size, {1, 1});
        return;
    }
    auto* samples = reinterpret_cast<std::uint16_t*>(data);
    mapper.map(samples, samples, size / 2, {1, 1});
}

Error renderImage(const Header& header, Input& input, ChunkWriter& writer,
                  const transform::SampleMapper& mapper, std::vector<char>& chunk)
{
    const std::string head = std::string("P") + header.kind + "\n" + std::to_string(header.width) +
                             " " + std::to_string(header.height) + "\n" +
                             std::to_string(header.maxval) + "\n";
    chunk.assign(head.begin(), head.end());
    if (Error error = writer.put(chunk, head.size()))
        return error;
    const std::uint64_t total = header.width * header.height * header.pixelBytes();
    const std::uint64_t chunkBytes =
        std::max<std::uint64_t>(1, chunkTarget / header.pixelBytes()) * header.pixelBytes();
    for (std::uint64_t done = 0; done < total;) {
        const std::size_t size = std::size_t(std::min(chunkBytes, total - done));
        chunk.resize(size);
        if (!input.fill(chunk.data(), size))
            return input.stopped("truncated: the pixel data ends before " + std::to_string(total) +
                                 " bytes");
        mapSamples(mapper, chunk.data(), size, header);
        if (Error error = writer.put(chunk, size))
            return error;
        done += size;
    }
    return {};
}

} // namespace

Error render(std::string_view magic, const Read& read, const Write& write, float a,
             transform::Branch branch, std::uint64_t maxPixels)
{
    Input input(magic.substr(2), read);
    // One mapper per depth the stream uses, made when it first appears.
    std::map<int, transform::SampleMapper> mappers;
    std::vector<char> chunk;
    ChunkWriter writer(write);
    Error error;
    for (char kind = magic[1];;) {
        const auto header = readHeader(kind, input, maxPixels, error);
        if (!header)
            return error;
        auto mapper = mappers.find(header->maxval);
        if (mapper == mappers.end())
            mapper =
                mappers
                    .try_emplace(header->maxval, transform::LevelTable(header->maxval, a, branch),
                                 std::endian::big)
                    .first;
        if ((error = renderImage(*header, input, writer, mapper->second, chunk)))
            return error;
        if (!nextMagic(input, kind, error)) {
            Error writeError = writer.finish();
            return error ? error : writeError;
        }
    }
}

} // namespace netpbm
