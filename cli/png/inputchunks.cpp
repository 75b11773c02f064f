// SPDX-License-Identifier: GPL-3.0-or-later
#include "png/inputchunks.h"

#include "fileio/descriptors.h"

#include <zlib.h>

#include <cstring>
#include <string>
#include <string_view>

namespace png {

namespace {

std::uint32_t bigEndian(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
           std::uint32_t(bytes[2]) << 8 | std::uint32_t(bytes[3]);
}

bool isText(std::string_view type) { return type == "tEXt" || type == "zTXt" || type == "iTXt"; }

bool isColour(std::string_view type)
{
    return type == "gAMA" || type == "cHRM" || type == "sRGB" || type == "sBIT" || type == "pHYs";
}

enum class Read { Whole, Damaged, CutShort };

// The chunk's data, and whether its CRC holds: a damaged chunk is left
// behind, as a decoder skips it.
Read readChunk(int fd, std::uint64_t at, const unsigned char* head, PngChunk& chunk)
{
    unsigned char crc[4];
    if (!fileio::readAt(fd, chunk.data.data(), chunk.data.size(), at + 8) ||
        !fileio::readAt(fd, crc, 4, at + 8 + chunk.data.size()))
        return Read::CutShort;
    uLong computed = crc32(0, head + 4, 4);
    computed = crc32_z(computed, chunk.data.data(), chunk.data.size());
    return std::uint32_t(computed) == bigEndian(crc) ? Read::Whole : Read::Damaged;
}

} // namespace

InputChunks inputChunks(int fd)
{
    InputChunks found;
    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    unsigned char start[8];
    if (!fileio::readAt(fd, start, 8, 0) || std::memcmp(start, signature, 8) != 0)
        return found;
    std::uint64_t kept = 0;
    std::uint64_t at = 8;
    bool afterImage = false;
    int walked = 0;
    for (;; ++walked) {
        unsigned char head[8];
        if (!fileio::readAt(fd, head, 8, at))
            break;
        const std::uint32_t length = bigEndian(head);
        const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
        if (length > 0x7fffffffu || type == "IEND")
            break;
        if (walked == maxWalkedChunks) {
            found.textLeftOut = found.textLeftOut || afterImage;
            break;
        }
        if (type == "IDAT") {
            found.read = true;
            afterImage = true;
        }
        const bool wanted = isText(type) || (!afterImage && (isColour(type) || type == "IHDR"));
        // Nothing past the bound is read, or even made room for.
        if (wanted && kept + length > maxKeptBytes) {
            found.textLeftOut = found.textLeftOut || isText(type);
        } else if (wanted) {
            PngChunk chunk{type, std::vector<unsigned char>(length)};
            const Read read = readChunk(fd, at, head, chunk);
            if (read == Read::CutShort)
                break;
            if (read == Read::Whole && type == "IHDR" && length == 13) {
                found.bitDepth = chunk.data[8];
                found.colourType = chunk.data[9];
            } else if (read == Read::Whole && type != "IHDR") {
                kept += length;
                (!isText(type) ? found.colour
                 : afterImage  ? found.textAfter
                               : found.text)
                    .push_back(std::move(chunk));
            }
        }
        at += std::uint64_t(length) + 12;
    }
    if (!found.read)
        return {};
    return found;
}

} // namespace png
