// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"
#include "error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>

// Binary PPM (P6) and PGM (P5) streams, 8 or 16 bits a sample, rendered by
// the program's own code: the pixel data goes from input to output in chunks
// of a few MiB through the level table, so no image is ever held whole. A
// stream may hold several images one after another, as video tools write
// them; each is rendered in turn, all with the same branch, so that a video
// does not flicker between dark and bright. This room never uses libvips.
namespace netpbm {

// Reads up to `size` bytes; returns how many, 0 at the end, -1 on an error.
using Read = std::function<std::ptrdiff_t(char* data, std::size_t size)>;
// Writes all `size` bytes.
using Write = std::function<Error(const char* data, std::size_t size)>;

// Whether a file's first two bytes start a binary PPM or PGM image.
inline bool isBinary(std::string_view magic) { return magic == "P6" || magic == "P5"; }

// Renders every image of the stream. `magic` is what the caller already read
// of the stream. Images of more than `maxPixels` pixels (0: no limit) are
// refused. On an error the output may hold part of the rendering.
Error render(std::string_view magic, const Read& read, const Write& write, float a,
             transform::Branch branch, std::uint64_t maxPixels);

} // namespace netpbm
