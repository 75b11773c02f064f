// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "metadata/carried.h"

#include <exiv2/exiv2.hpp>

#include <exception>
#include <string>
#include <vector>

namespace metadata {

// What a Carried holds, as Exiv2 does (seen only inside this room).
struct Carried::Held {
    Exiv2::ExifData exif; // without previews of the unrendered picture
    Exiv2::ByteOrder byteOrder = Exiv2::littleEndian;
    // The EXIF block as the input held it, if it held one that can go as
    // it was (its pictures blanked).
    std::string cameraBlock;
    int orientation = 0; // what Orientation is to say (0: as it was)
    std::string xmpPacket;
    // JPEG's extended XMP, found whole: its segments as they were and the
    // packet they join into.
    std::vector<std::string> xmpExtensionSegments;
    std::string xmpExtension;
    Exiv2::IptcData iptc;
    // Exiv2 writes the maker note anew as it read it (judged on the EXIF
    // as read, previews included).
    bool makerNoteRewritable = false;
    // libvips holds the input's EXIF, which Exiv2 could not read.
    bool exifOnlyInLibvips = false;
};

// Exiv2 set up once: quiet, and reading HEIF and AVIF.
void startOnce();

// One line of an Exiv2 failure's reason.
std::string reasonOf(const std::exception& error);

// Whether a datum belongs to a maker note: an entry Exiv2 reads, the note
// as bytes, or where it lay.
bool isMakerNote(const Exiv2::Exifdatum& datum);

// A maker note's entries as they read: key, type, count and value each
// (its bytes as one, where Exiv2 reads no entry of it).
std::vector<std::string> makerNoteEntries(const Exiv2::ExifData& exif);

// Who made the maker note `exif` holds, as the account names it (the
// camera's Make, as written, without the company's form); empty: none.
std::string makerOf(const Exiv2::ExifData& exif);

} // namespace metadata
