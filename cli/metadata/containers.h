// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Where metadata lies in the containers the camera's bytes go into as they
// were: a JPEG header's segments, a WebP file's chunks.
namespace metadata {

// Where a JPEG's header ends, from its first `bytes`: the offset of its
// first segment that is no APPn or COM (the tables, the frame); nothing
// while more bytes are needed; npos when the bytes are no JPEG.
std::optional<std::size_t> jpegHeaderEnd(std::string_view bytes);

// A JPEG header with the block as its EXIF APP1 segment, after SOI and any
// APP0; false when the block is larger than a segment holds.
bool withExifSegment(std::string& header, const std::string& block);

// A JPEG header without its EXIF APP1 segments.
void withoutExifSegment(std::string& header);

// A WebP file whose EXIF chunk holds the block instead; false when it has
// no EXIF chunk or is no RIFF file.
bool withExifChunk(std::string& file, const std::string& block);

// A JPEG header's Photoshop segment (APP13, where IPTC lies), whole; empty
// when it has none.
std::string photoshopSegment(const std::string& header);

// A JPEG header with `segment` in place of its Photoshop segment.
void withPhotoshopSegment(std::string& header, const std::string& segment);

} // namespace metadata
