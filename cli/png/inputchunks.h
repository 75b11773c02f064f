#pragma once

#include "png/pngimage.h"

#include <cstdint>
#include <string>
#include <vector>

// The ancillary chunks of a PNG input that a PNG rendering keeps as they
// were, by the format's own rule for copying chunks: text (tEXt, zTXt and
// iTXt, with their keywords, languages and compression) and the colour and
// size chunks gAMA, cHRM, sRGB, sBIT and pHYs. Read from the chunks before
// the first IDAT, each checked against its CRC; the walk is bounded in the
// chunks it reads and the bytes it keeps, since the input may be hostile.
struct InputChunks {
    bool read = false; // the walk reached IDAT: the chunks below are the input's
    int bitDepth = 0;  // from the input's header, for sBIT, which depends on it
    int colourType = -1;
    std::vector<PngChunk> text;   // tEXt, zTXt and iTXt, in the input's order
    std::vector<PngChunk> colour; // gAMA, cHRM, sRGB, sBIT, pHYs
};

// The chunks of the PNG file at `path` that are kept (nothing read when it
// cannot be opened or is no PNG).
InputChunks inputChunks(const std::string& path);

// At most this many chunks are walked, and this many bytes kept.
constexpr int maxInputChunks = 4096;
constexpr std::uint64_t maxKeptBytes = std::uint64_t(16) << 20;
