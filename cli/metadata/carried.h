// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "metadata/route.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The metadata that travels from an input to its rendering: EXIF (maker
// notes included, every picture of the unrendered input left out, the
// input's own image structure left behind), XMP (extended included) and
// IPTC, as Exiv2 reads them. Read (reading.cpp), narrowed to the file's
// route and edited in place (editing.cpp), written (writing.cpp). No Exiv2
// type or exception leaves this room.
namespace metadata {

// One EXIF entry as a TIFF's tags hold it: its directory (0 the first,
// 0x8769 EXIF's, 0x8825 GPS's), tag and TIFF type; its value as bytes
// (text, bytes, undefined) or as numbers (rationals as their quotient).
struct TiffTag {
    std::uint16_t directory;
    std::uint16_t tag;
    std::uint16_t type;
    std::string bytes;
    std::vector<double> numbers;
};

class Carried {
public:
    Carried();
    ~Carried();
    Carried(Carried&&) noexcept;
    Carried& operator=(Carried&&) noexcept;

    // Reads the metadata of a JPEG, PNG, TIFF, WebP or HEIF/AVIF file open
    // at `fd`, from its start (the descriptor's position stays). A file
    // whose metadata cannot be parsed gives the reason in `error` and
    // nothing to carry.
    static Carried read(int fd, Error& error);
    // EXIF holding Orientation alone (nothing for 1 or less), as --strip keeps.
    static Carried orientationOnly(int orientation);

    // Takes an EXIF block (a TIFF structure, or with JPEG's "Exif" marker
    // in front) as the EXIF to carry, unless this holds EXIF already. A
    // block Exiv2 cannot parse is left out.
    void adoptExif(const std::string& block);
    // Keeps the input's EXIF block as it was, to go byte for byte into
    // outputs that hold EXIF as one block, its pictures blanked; adopted as
    // the EXIF to carry unless this holds EXIF already. `libvipsHoldsIt`:
    // libvips read it, and writes it when nothing else can.
    void keepCameraBlock(const std::string& block, bool libvipsHoldsIt);

    // Takes an XMP packet as the XMP to carry, unless this holds one
    // already or Exiv2 cannot parse it.
    void adoptXmp(const std::string& packet);
    // Takes the input's XMP packet as it was written (Exiv2 gives its own
    // encoding of it), where Exiv2 can parse it.
    void keepXmpPacket(const std::string& packet);

    bool hasExif() const;
    bool hasXmp() const;
    bool hasIptc() const;
    bool empty() const { return !hasExif() && !hasXmp() && !hasIptc(); }

    // What this holds, as the route is decided on.
    Holdings holdings() const;
    // Leaves out what the route does not carry, and makes what it rebuilds
    // (extended XMP merged into its packet); what cannot be done as the
    // route says is left out too, and added to its reasons.
    void follow(Route& route);

    // Makes the EXIF's Orientation, where it has one, say what the decoded
    // pixels need (1 where the decoder turned them upright already).
    void setOrientation(int orientation);

    // The resolution EXIF gives, in pixels per millimetre, across and down
    // (nothing when it gives none).
    std::optional<std::pair<double, double>> resolution() const;

    // The EXIF as a TIFF structure, as PNG's eXIf chunk holds it: the
    // input's own block where it goes as it was, else written anew (empty
    // when there is none or it cannot be encoded).
    std::string exifBlock() const;
    // The XMP packet as the input held it.
    std::string xmpPacket() const;
    // The IPTC records, as a TIFF holds them (empty when none).
    std::string iptcRecords() const;
    // The EXIF entries that a TIFF's first directory and its EXIF and GPS
    // directories hold, but those the TIFF's own structure sets.
    std::vector<TiffTag> tiffTags() const;

    // Rewrites the finished WebP or TIFF file open, read and write, at `fd`
    // with what this holds: the new file is made in memory and written over
    // the old, so a failure leaves an error, never a file that seems whole.
    // What the file holds already (its ICC profile) stays; its own EXIF
    // goes unless this holds none and `keepFileExif`. The error names
    // `shownName`; `changed` says whether the file was touched before it came.
    Error rewrite(int fd, const std::string& shownName, bool keepFileExif, bool& changed) const;
    // Writes what this holds into a JPEG's header: its bytes from the start
    // of the file to the end of its last APPn or COM segment, so that the
    // picture's data can stream past and only the header goes through
    // memory. Its own EXIF goes unless this holds none and `keepFileExif`.
    Error intoJpegHeader(std::string& header, bool keepFileExif) const;

    // What this holds, as Exiv2 does (seen only inside this room).
    struct Held;

private:
    // The input's own block as it goes into an output, where it has one.
    std::optional<std::string> cameraBlock() const;

    std::unique_ptr<Held> held_;
};

// Whether the raw file open at `fd`, a TIFF structure, holds a camera's raw
// sensor data (DNG, NEF, ARW, ...) rather than a picture.
bool holdsRawSensorData(int fd);

} // namespace metadata
