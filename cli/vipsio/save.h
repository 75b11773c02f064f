#pragma once

#include "error.h"
#include "vipsio/encoding.h"
#include "vipsio/formats.h"

#include <vips/vips8>

class OutputFile;

namespace vipsio {

// Writes the image to a target in the format, with the encoding. Failures
// of libvips throw vips::VError.
void save(const vips::VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
          const vips::VTarget& target);

// Writes the image in the format through `output`. A failed write of the
// output's own is returned, naming the output; the other failures of
// libvips (decoding, encoding) throw vips::VError.
Error save(const vips::VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
           OutputFile& output);

} // namespace vipsio
