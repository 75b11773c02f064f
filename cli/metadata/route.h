// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "formats/formats.h"

#include <cstddef>
#include <string>
#include <vector>

// How an input's metadata reaches its rendering, decided once per file
// from what the input carries, the output's format and how many pages it
// gets: every path that writes an output follows it, and what it leaves
// out comes with a reason, a short phrase each.
namespace metadata {

// What an input carries, as read: the facts its route is decided on.
struct Holdings {
    bool exif = false;
    // libvips holds the input's EXIF where Exiv2 could not read it: only
    // libvips's copy can go.
    bool exifOnlyInLibvips = false;
    // The EXIF block can go byte for byte (its pictures blanked in place);
    // its size, which a JPEG's segment bounds.
    bool exifBlock = false;
    std::size_t exifBlockSize = 0;
    // Who made the maker note, as the account names it; empty: none.
    std::string makerNote;
    // Exiv2 reads the maker note's entries and, written anew elsewhere,
    // they read the same (offsets, types, counts and values).
    bool makerNoteRewritable = false;
    // Its EXIF is big-endian, which a TIFF written here (little-endian) turns.
    bool exifBigEndian = false;
    bool xmp = false;
    // The main packet points at an extension (JPEG's extended XMP), found whole.
    bool extendedXmp = false;
    bool iptc = false;
};

// Who writes the metadata into the output.
enum class Writer {
    None,         // nobody: the format holds none of it
    JpegHeader,   // Exiv2 rewrites a JPEG's header as it streams past
    Exiv2Rewrite, // Exiv2 rewrites the finished file (a TIFF of one page, a WebP)
    PngChunks,    // the program's PNG writer, from libvips's fields
    Libvips,      // libvips's saver, from its fields (HEIF, AVIF); it writes EXIF
                  // anew through libexif, which moves a maker note it does not
                  // know as bytes and rewrites one it knows in its own way
    TiffTags,     // libvips writes XMP and IPTC on every page of a TIFF, and
                  // libtiff the EXIF tags into its first directory
};

// How one kind of metadata travels.
enum class Way {
    Absent,    // the input has none
    AsWritten, // the input's bytes as they were (EXIF's block edited in place)
    Rebuilt,   // written anew from its values (among a TIFF's tags; merged into one packet)
    Dropped,   // left out: `Route::dropped` says why
};

struct Route {
    Writer writer = Writer::None;
    Way exif = Way::Absent;
    Way makerNote = Way::Absent;
    Way xmp = Way::Absent;
    Way extendedXmp = Way::Absent;
    Way iptc = Way::Absent;
    std::vector<std::string> dropped;
};

// The route of `held` into an output of `output`'s format holding `pages`
// pages (or frames).
Route routeFor(const Holdings& held, const formats::Format& output, int pages);

} // namespace metadata
