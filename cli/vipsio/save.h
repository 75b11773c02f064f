#pragma once

#include "error.h"
#include "vipsio/encoding.h"
#include "vipsio/formats.h"

#include <vips/vips8>

#include <functional>
#include <string>

class OutputFile;

namespace vipsio {

// Writes the image to a target in the format, with the encoding. Failures
// of libvips throw vips::VError.
void save(const vips::VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
          const vips::VTarget& target);

// Rewrites a JPEG's header in place: its bytes from the start of the file to
// the end of its last APPn or COM segment.
using HeaderRewrite = std::function<Error(std::string& header)>;

// Writes the image in the format through `output`. A failed write of the
// output's own is returned, naming the output; the other failures of
// libvips (decoding, encoding) throw vips::VError. A JPEG's header goes
// through `rewriteJpegHeader`, when given, before it is written; the rest
// streams past it.
Error save(const vips::VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
           OutputFile& output, const HeaderRewrite& rewriteJpegHeader = {});

} // namespace vipsio
