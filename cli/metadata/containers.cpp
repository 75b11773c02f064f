// SPDX-License-Identifier: GPL-3.0-or-later
#include "metadata/containers.h"
#include "formats/formats.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
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

// Walks a JPEG's segments after its SOI: `visit(at, marker, length)` for
// each whose marker and length `bytes` hold, `length` counting the marker,
// until `visit` says false. Returns where the walk stopped: the segment
// `visit` stopped at; else where the next segment would start (a segment
// of fewer than 4 bytes held, or past the end where the last is cut); or
// npos where the bytes are no JPEG.
template <typename Visit> std::size_t walkSegments(std::string_view bytes, const Visit& visit)
{
    const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    if (bytes.size() >= 2 && (byte(0) != 0xff || byte(1) != 0xd8))
        return std::string_view::npos;
    std::size_t at = 2;
    while (at + 4 <= bytes.size()) {
        if (byte(at) != 0xff)
            return std::string_view::npos;
        const std::size_t length = 2 + (std::size_t(byte(at + 2)) << 8 | byte(at + 3));
        if (!visit(at, unsigned(byte(at + 1)), length))
            return at;
        at += length;
    }
    return at;
}

// Each whole segment of a JPEG header, until `visit` says false.
template <typename Visit> void eachSegment(const std::string& header, const Visit& visit)
{
    walkSegments(header, [&](std::size_t at, unsigned marker, std::size_t length) {
        return at + length <= header.size() && visit(at, marker, length);
    });
}

bool inHeader(unsigned marker) { return (marker >= 0xe0 && marker <= 0xef) || marker == 0xfe; }

bool isPhotoshop(const std::string& header, std::size_t at, unsigned marker)
{
    return marker == 0xed && header.compare(at + 4, 13, "Photoshop 3.0") == 0;
}

} // namespace

std::optional<std::size_t> jpegHeaderEnd(std::string_view bytes)
{
    if (bytes.size() < 2)
        return std::nullopt;
    bool ended = false;
    const std::size_t at = walkSegments(bytes, [&](std::size_t, unsigned marker, std::size_t) {
        ended = !inHeader(marker);
        return !ended;
    });
    if (at == std::string_view::npos || ended)
        return at;
    return std::nullopt;
}

bool withExifSegment(std::string& header, const std::string& block)
{
    const std::string segment = std::string(formats::exifMarker) + block;
    if (segment.size() + 2 > 0xffff || header.size() < 2)
        return false;
    // After SOI and any APP0 (JFIF's), where readers look for EXIF.
    std::size_t at = 2;
    walkSegments(header, [&at](std::size_t start, unsigned marker, std::size_t length) {
        if (marker != 0xe0)
            return false;
        at = start + length;
        return true;
    });
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
