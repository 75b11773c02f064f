// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"
#include "loading/load.h"
#include "metadata/carried.h"
#include "metadata/route.h"
#include "outcome.h"

#include <vips/vips8>

#include <string>
#include <vector>

namespace saving {

// An input's metadata on its way into one output: what goes, and the route
// it takes (decided once, with the reasons for what is left out).
struct Travelling {
    metadata::Carried carried;
    metadata::Route route;
    // libvips's own copy of the input's EXIF is what goes (Exiv2 read none).
    bool libvipsExif = false;
};

// Reads the metadata of the input open at `fd` (-1: none), loaded as
// `loaded`, and decides its route into `pages` pages of `format`: with
// `strip`, only Orientation goes; for a contact sheet (`sheet`), nothing.
// An input whose metadata Exiv2 cannot read leaves a warning, as does
// everything the route leaves out.
Travelling travellingFor(int fd, const loading::Loaded& loaded, const formats::Format& format,
                         int pages, bool strip, bool sheet, bool upright, Warnings& warnings);

// The image as libvips is to save it along the route: the fields each
// writer reads set to what goes (Exiv2's EXIF block, the XMP packet as it
// was written, IPTC's records), and those of what does not go removed.
// Where Exiv2 writes, libvips writes its own copies first, which Exiv2
// replaces, and which stay, with a warning, should Exiv2 fail.
vips::VImage handedOver(const vips::VImage& image, const Travelling& travelling);

// What a TIFF of several pages gets in its first directory: the EXIF
// entries and IPTC's records (libtiff writes them, see tifftags.h).
std::vector<metadata::TiffTag> tiffTagsOf(const Travelling& travelling);

// The XMP packet that libvips's HEIF loader keeps among the file's
// untyped items (heif-mime-N), which Exiv2 0.27 does not read (empty if none).
std::string heifXmpOf(const vips::VImage& image);

// The EXIF block and the XMP packet libvips holds for the image, as the
// input held them (empty if none).
std::string exifBlockOf(const vips::VImage& image);
std::string xmpPacketOf(const vips::VImage& image);

} // namespace saving
