// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "formats/formats.h"
#include "outcome.h"
#include "saving/carry.h"
#include "saving/encoding.h"

#include <vips/vips8>

namespace fileio {
class OutputFile;
}

namespace saving {

// Writes the mapped image to `output` (a file, or a stream held whole until
// commit) with the input's metadata along its route: libvips's saver
// writes the pixels and the fields the route sets; Exiv2 rewrites a JPEG's
// header as it streams past, or the finished WebP or TIFF through memory;
// libtiff adds the EXIF tags to a TIFF of several pages; the program's
// PNG writer copies chunks. What is left out on the way is added to
// `warnings`.
Error writeOut(const vips::VImage& mapped, const formats::Format& format, Encoding encoding,
               const Travelling& travelling, fileio::OutputFile& output, Warnings& warnings);

} // namespace saving
