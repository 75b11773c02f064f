// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/containers.h"
#include "formats/formats.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace metadata {

namespace {

std::uint32_t littleEndian32(std::string_view bytes, std::size_t at)
{
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

void putLittleEndian32(std::string& bytes, std::size_t at, std::uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes[at + std::size_t(i)] = char(value >> (8 * i));
}

// Where each segment of a JPEG header starts, and its marker, until the
// header ends or its bytes stop making sense.
template <typename Visit> void eachSegment(const std::string& header, const Visit& visit)
{
    for (std::size_t at = 2;
         at + 4 <= header.size() && static_cast<unsigned char>(header[at]) == 0xff;) {
        const std::size_t length =
            2 + (std::size_t(static_cast<unsigned char>(header[at + 2])) << 8 |
                 static_cast<unsigned char>(header[at + 3]));
        if (at + length > header.size() ||
            !visit(at, static_cast<unsigned char>(header[at + 1]), length))
            return;
        at += length;
    }
}

bool isPhotoshop(const std::string& header, std::size_t at, unsigned marker)
{
    return marker == 0xed && header.compare(at + 4, 13, "Photoshop 3.0") == 0;
}

} // namespace

bool withExifSegment(std::string& header, const std::string& block)
{
    const std::string segment = std::string(formats::exifMarker) + block;
    if (segment.size() + 2 > 0xffff || header.size() < 2)
        return false;
    // After SOI and any APP0 (JFIF's), where readers look for EXIF.
    std::size_t at = 2;
    while (at + 4 <= header.size() && static_cast<unsigned char>(header[at]) == 0xff &&
           static_cast<unsigned char>(header[at + 1]) == 0xe0)
        at += 2 + (std::size_t(static_cast<unsigned char>(header[at + 2])) << 8 |
                   static_cast<unsigned char>(header[at + 3]));
    if (at > header.size())
        return false;
    const auto length = std::uint16_t(segment.size() + 2);
    std::string app1 = "\xff\xe1";
    app1 += char(length >> 8);
    app1 += char(length & 0xff);
    header.insert(at, app1 + segment);
    return true;
}

void withoutExifSegment(std::string& header)
{
    std::vector<std::pair<std::size_t, std::size_t>> found;
    eachSegment(header, [&](std::size_t at, unsigned marker, std::size_t length) {
        if (marker == 0xe1 && header.compare(at + 4, 6, std::string(formats::exifMarker)) == 0)
            found.emplace_back(at, length);
        return true;
    });
    // From the last, so that each cut leaves the offsets before it as they were.
    std::reverse(found.begin(), found.end());
    for (const auto& [at, length] : found)
        header.erase(at, length);
}

bool withExifChunk(std::string& file, const std::string& block)
{
    if (file.size() < 12 || file.compare(0, 4, "RIFF") != 0 || file.compare(8, 4, "WEBP") != 0)
        return false;
    for (std::size_t at = 12; at + 8 <= file.size();) {
        const std::uint32_t size = littleEndian32(file, at + 4);
        const std::size_t padded = std::size_t(size) + (size & 1);
        if (at + 8 + padded > file.size())
            return false;
        if (file.compare(at, 4, "EXIF") == 0) {
            std::string chunk = "EXIF    " + block + std::string(block.size() & 1, '\0');
            putLittleEndian32(chunk, 4, std::uint32_t(block.size()));
            file.replace(at, 8 + padded, chunk);
            putLittleEndian32(file, 4, std::uint32_t(file.size() - 8));
            return true;
        }
        at += 8 + padded;
    }
    return false;
}

std::string photoshopSegment(const std::string& header)
{
    std::string found;
    eachSegment(header, [&](std::size_t at, unsigned marker, std::size_t length) {
        if (isPhotoshop(header, at, marker))
            found = header.substr(at, length);
        return found.empty();
    });
    return found;
}

void withPhotoshopSegment(std::string& header, const std::string& segment)
{
    eachSegment(header, [&](std::size_t at, unsigned marker, std::size_t length) {
        if (!isPhotoshop(header, at, marker))
            return true;
        header.replace(at, length, segment);
        return false;
    });
}

} // namespace metadata
