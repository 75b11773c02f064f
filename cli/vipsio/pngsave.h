#pragma once

#include "error.h"
#include "vipsio/encoding.h"

#include <vips/vips8>

class OutputFile;

namespace vipsio {

// Whether the program's own PNG encoder, which deflates on every core,
// takes the image: 8- or 16-bit samples, one to four bands.
bool ownPngEncoderTakes(const vips::VImage& image);

// Writes the image as PNG through `output`, its rows deflated on libvips's
// thread count, with its resolution, ICC profile, EXIF, XMP (as iTXt) and
// text comments as chunks. The rows stream: memory stays at a few blocks.
Error savePng(const vips::VImage& image, const Encoding& encoding, OutputFile& output);

} // namespace vipsio
