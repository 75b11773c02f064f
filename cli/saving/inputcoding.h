// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"
#include "saving/encoding.h"

namespace saving {

// Keeps the input's own coding where the output is of its kind and nothing
// else was asked: a lossless WebP stays lossless, a TIFF keeps its
// compression (LZW, deflate, ZSTD, ...), so rendering never makes a
// lossless file lossy or a compressed one two or three times larger; a PNG
// input's chunks go to a PNG output. `fd` is the input, of format `read`.
void keepInputCoding(int fd, const formats::Format* read, Encoding& encoding);

} // namespace saving
