#pragma once

#include "error.h"

#include <vips/vips8>

#include <cstdint>
#include <string>

// Loading through libvips, lazily and with sequential access, so that
// decoding, mapping and encoding run together over a few rows at a time and
// memory stays flat whatever the picture's size. Failures of libvips throw
// vips::VError; a file no loader takes is an Error of the program's own.
namespace vipsio {

struct Loaded {
    vips::VImage image;
    std::string loader; // the loader's nickname: jpegload, ppmload_source, ...
    Error error;        // set when no loader takes the input
};

// Starts loading a file or a source with the loader libvips finds for it
// (only its header is read now): every frame of an animation, a file cut
// short an error.
Loaded load(const std::string& path);
Loaded load(const vips::VSource& source);

// Whether a loaded image passes --max-pixels.
Error sizeRefusal(const vips::VImage& image, std::uint64_t maxPixels);

// The nickname of a loader libvips names by its class (VipsForeignLoadJpegFile, ...).
std::string nicknameOf(const char* loader);

} // namespace vipsio
