#pragma once

#include "formats/formats.h"
#include "metadata/carried.h"

#include <vips/vips8>

#include <string>

namespace vipsio {

// The input's EXIF, XMP and IPTC as Exiv2 reads them from the file open at
// `fd`, for the formats whose files it knows; nothing for the others, or
// when --strip drops them. An input whose metadata cannot be parsed leaves
// its reason in `error`.
metadata::Carried carriedFrom(int fd, const formats::Format* read, bool strip, Error& error);

// The image as libvips is to save it when `carried` goes into the output:
// where libvips writes the metadata (PNG, HEIF/AVIF), with Exiv2's EXIF
// block and the input's XMP packet in place of its own. Where Exiv2 writes
// it, libvips writes its own copies, which Exiv2 replaces, and which stay,
// with a warning, should Exiv2 fail.
vips::VImage handedOver(const vips::VImage& image, const metadata::Carried& carried,
                        const formats::Format& format);

// Whether libvips (or the program's PNG writer) writes the metadata libvips
// holds into files of the format, rather than Exiv2.
bool libvipsWritesTheMetadata(const formats::Format& format);

// The XMP packet that libvips's HEIF loader keeps among the file's
// untyped items (heif-mime-N), which Exiv2 0.27 does not read (empty if none).
std::string heifXmpOf(const vips::VImage& image);

// The EXIF block and the XMP packet libvips holds for the image, as the
// input held them (empty if none).
std::string exifBlockOf(const vips::VImage& image);
std::string xmpPacketOf(const vips::VImage& image);

// Under --strip, a PNG keeps Orientation in an EXIF block of its own, as
// libvips's savers keep it in theirs.
vips::VImage withOrientationBlock(const vips::VImage& image);

} // namespace vipsio
