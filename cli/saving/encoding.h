// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/options.h"

#include <optional>
#include <string>

namespace saving {

// The encoder settings and the metadata choice an output is written with.
struct Encoding {
    std::optional<int> quality; // -Q, for lossy formats; nothing: the format's default
    bool keepQuality = false;   // -Q keep
    // A JPEG input's quality and chroma, for a JPEG output under -Q keep.
    std::optional<int> jpegQuality;
    bool jpegChromaHalved = false;
    std::optional<int> compression; // PNG's level; its default when not given
    bool pngFilters = false;        // PNG rows filtered as libpng chooses
    bool strip = false;             // drop what identifies the picture, keep Orientation
    bool stripIcc = false;          // drop the ICC profile too
    bool lossless = false;          // WebP, HEIF/AVIF and JPEG XL written lossless
    // TIFF's compression (none, lzw, deflate, zstd, packbits, jpeg); empty:
    // a TIFF input's own, else none.
    std::string tiffCompression;
    // A PNG input's descriptor, whose text, colour and size chunks a PNG
    // output copies; -1 for none.
    int pngInput = -1;
    // The image's EXIF block is the one carried from the input, previews
    // blanked already: it goes out as it is.
    bool exifCarried = false;
};

// The encoding the command line asks for.
Encoding encodingOf(const command::Options& options);

} // namespace saving
