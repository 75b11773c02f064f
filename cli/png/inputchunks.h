// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "png/pngimage.h"

#include <cstdint>
#include <vector>

namespace png {

// The ancillary chunks of a PNG input that a PNG rendering keeps as they
// were, by the format's own rule for copying chunks: text (tEXt, zTXt and
// iTXt, with their keywords, languages and compression), before the image
// data or after it as the input had it, and the colour and size chunks
// gAMA, cHRM, sRGB, sBIT and pHYs. Each is checked against its CRC; the walk
// is bounded in the chunks it reads and the bytes it keeps, since the input
// may be hostile.
struct InputChunks {
    bool read = false; // the walk reached IDAT: the chunks below are the input's
    int bitDepth = 0;  // from the input's header, for sBIT, which depends on it
    int colourType = -1;
    std::vector<PngChunk> text;      // before the image data, in the input's order
    std::vector<PngChunk> textAfter; // after it
    std::vector<PngChunk> colour;    // gAMA, cHRM, sRGB, sBIT, pHYs
    // Text past maxKeptBytes, or after more than maxWalkedChunks chunks,
    // was left out.
    bool textLeftOut = false;
};

// The chunks of the PNG file open at `fd`, read in place (nothing read when
// it is no PNG).
InputChunks inputChunks(int fd);

// At most this many chunks are walked (image data included), and this many
// bytes kept.
constexpr int maxWalkedChunks = 1 << 20;
constexpr std::uint64_t maxKeptBytes = std::uint64_t(16) << 20;

} // namespace png
