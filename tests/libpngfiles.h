// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// libpng as an independent reader and writer of the PNG writer's files, for
// tests and benchmarks only.

#include "png/pngimage.h"

#include <string>
#include <vector>

// Rows packed one after another as the PNG writer takes them: bytes at depth
// 8, native-endian 16-bit integers at depth 16.
struct PngPixels {
    png::PngImage image;
    std::vector<unsigned char> rows;
};

// Encodes with libpng at zlib level `level`, with its default filter choice.
std::vector<unsigned char> libpngEncode(const PngPixels& pixels, int level);

// Decodes with libpng; an empty reason means success. libpng's warnings
// (such as a chunk out of place) are reasons too.
std::string libpngDecode(const std::vector<unsigned char>& file, PngPixels* pixels);
