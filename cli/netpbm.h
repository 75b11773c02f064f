#pragma once

#include "colourmap.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// Binary PPM (P6) and PGM (P5) streams, 8 or 16 bits a sample, rendered by
// the program's own code: the pixel data goes from input to output in chunks
// of a few MiB through the level table, so no image is ever held whole. A
// stream may hold several images one after another, as video tools write
// them; each is rendered in turn, all with the same branch, so that a video
// does not flicker between dark and bright.
namespace netpbm {

// Reads up to `size` bytes; returns how many, 0 at the end, -1 on an error.
using Read = std::function<std::ptrdiff_t(char* data, std::size_t size)>;
// Writes all `size` bytes; returns an empty string or what went wrong.
using Write = std::function<std::string(const char* data, std::size_t size)>;

// Whether a file's first two bytes start a binary PPM or PGM image.
inline bool isBinary(std::string_view magic) { return magic == "P6" || magic == "P5"; }

// The size in bytes of a stream's first image, header and pixel data, told
// from the stream's first bytes (headBytes of them hold any sane header);
// nothing when they start no binary PPM or PGM header.
inline constexpr std::size_t headBytes = 4096;
std::optional<std::uint64_t> firstImageBytes(std::string_view start);

// Watches the bytes of a stream, as they pass, for anything after its first
// image: a stream of several images converted to a format that holds one
// must not lose the rest silently.
class MoreImagesWatch {
public:
    // Called with each part of the stream in order, and with size 0 at its end.
    void see(const char* data, std::size_t size);
    // Whether anything but whitespace followed the first image.
    bool seen() const { return more_; }

private:
    void scan(const char* data, std::size_t size, std::uint64_t offset);

    std::string head_;
    std::uint64_t passed_ = 0;
    std::optional<std::uint64_t> first_;
    bool more_ = false;
};

// Renders every image of the stream. `magic` is what the caller already read
// of the stream. Images of more than `maxPixels` pixels (0: no limit) are
// refused. Returns an empty string on success, else what went wrong; the
// output may then hold part of the rendering.
std::string render(std::string_view magic, const Read& read, const Write& write, float a,
                   transform::Branch branch, std::uint64_t maxPixels);

} // namespace netpbm
