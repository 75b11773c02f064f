// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "outcome.h"
#include "saving/encoding.h"

#include <vips/vips8>

namespace fileio {
class OutputFile;
}

namespace saving {

// Whether the program's own PNG encoder, which deflates on every core,
// takes the image: 8- or 16-bit samples, one to four bands.
bool ownPngEncoderTakes(const vips::VImage& image);

// Writes the image as PNG through `output`, its rows deflated on libvips's
// thread count, with its resolution, ICC profile, EXIF, XMP (as iTXt) and
// text comments as chunks (a PNG input's own, before and after the image
// data as it had them). The rows stream: memory stays at a few blocks.
// Text left out of the copy is added to `warnings`.
Error savePng(const vips::VImage& image, const Encoding& encoding, fileio::OutputFile& output,
              Warnings& warnings);

} // namespace saving
