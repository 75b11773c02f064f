// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "formats/formats.h"
#include "outcome.h"
#include "saving/encoding.h"

#include <vips/vips8>

#include <functional>
#include <string>

namespace fileio {
class OutputFile;
}

namespace saving {

// Writes the image to a target in the format, with the encoding. Failures
// of libvips throw vips::VError.
void save(const vips::VImage& image, const formats::Format& format, const Encoding& encoding,
          const vips::VTarget& target);

// Rewrites a JPEG's header in place: its bytes from the start of the file to
// the end of its last APPn or COM segment. What cannot be rewritten is left
// as it was (the rewrite says why, in its own way).
using HeaderRewrite = std::function<void(std::string& header)>;

// Writes the image in the format through `output`. A failed write of the
// output's own is returned, naming the output; the other failures of
// libvips (decoding, encoding) throw vips::VError. A JPEG's header goes
// through `rewriteJpegHeader`, when given, before it is written; the rest
// streams past it. What is left out on the way is added to `warnings`.
Error save(const vips::VImage& image, const formats::Format& format, const Encoding& encoding,
           fileio::OutputFile& output, Warnings& warnings,
           const HeaderRewrite& rewriteJpegHeader = {});

} // namespace saving
