#pragma once

#include "vipsio/encoding.h"

#include <string>

namespace vipsio {

// Keeps the input's own coding where the output is of its kind and nothing
// else was asked: a lossless WebP stays lossless, a TIFF keeps its
// compression (LZW, deflate, ZSTD, ...), so rendering never makes a
// lossless file lossy or a compressed one two or three times larger.
void keepInputCoding(const std::string& path, const std::string& loader, Encoding& encoding);

} // namespace vipsio
