// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace png {

// The colour types a PNG header names, with their codes in the file.
enum class PngColour : std::uint8_t { Grey = 0, Rgb = 2, GreyAlpha = 4, Rgba = 6 };

// A chunk the caller adds (metadata: eXIf, iCCP, tEXt...): its four-letter
// type and its data, without length or CRC, which the writer adds.
struct PngChunk {
    std::string type;
    std::vector<unsigned char> data;
};

// What the header says about the image to write.
struct PngImage {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    int bitDepth = 8; // 8 or 16
    PngColour colour = PngColour::Rgb;
};

// Samples per pixel of a colour type.
inline int pngChannels(PngColour colour)
{
    switch (colour) {
    case PngColour::Grey:
        return 1;
    case PngColour::GreyAlpha:
        return 2;
    case PngColour::Rgb:
        return 3;
    case PngColour::Rgba:
        return 4;
    }
    return 0;
}

} // namespace png
