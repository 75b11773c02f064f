#pragma once

#include "error.h"
#include "formats/formats.h"
#include "metadata/carried.h"
#include "outcome.h"
#include "vipsio/encoding.h"

#include <vips/vips8>

namespace fileio {
class OutputFile;
}

namespace vipsio {

// Writes the mapped image to `output` (a file, or a stream held whole until
// commit) with the input's metadata, `carried`, by the format's route:
// libvips's saver writes the pixels and what libvips holds; Exiv2 rewrites
// a JPEG's header as it streams past, or the finished WebP or TIFF through
// memory; the program's PNG writer copies chunks. `pages` is how many pages
// the image holds. What is left out on the way is added to `warnings`.
Error writeOut(const vips::VImage& mapped, int pages, const formats::Format& format,
               Encoding encoding, const metadata::Carried& carried, fileio::OutputFile& output,
               Warnings& warnings);

} // namespace vipsio
