#pragma once

#include "error.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>

// The metadata that travels from an input to its rendering: EXIF (maker
// notes included, the thumbnail erased, the input's own image structure
// left behind), XMP and IPTC, as Exiv2 reads them. No Exiv2 type or
// exception leaves this room.
namespace metadata {

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

    // Takes an EXIF block (a TIFF structure, or with JPEG's "Exif" marker
    // in front) as the EXIF to carry, its thumbnail erased, unless this
    // holds EXIF already. A block Exiv2 cannot parse is left out.
    void adoptExif(const std::string& block);

    // Keeps the input's EXIF block as it was (a TIFF structure, or with
    // JPEG's "Exif" marker in front), to go byte for byte into outputs that
    // hold EXIF as one block, its previews blanked; adopted as the EXIF to
    // carry unless this holds EXIF already.
    void keepCameraBlock(const std::string& block);

    // Takes an XMP packet as the XMP to carry, unless this holds one
    // already or Exiv2 cannot parse it.
    void adoptXmp(const std::string& packet);
    // Takes the input's XMP packet as it was written (Exiv2 gives its own
    // encoding of it), where Exiv2 can parse it.
    void keepXmpPacket(const std::string& packet);

    bool hasExif() const;
    // Whether the EXIF holds a maker note Exiv2 cannot read, which a TIFF
    // output goes without: moved to another place in a file, its offsets
    // may point where its values no longer are.
    bool hasOpaqueMakerNote() const;
    bool hasXmp() const;
    bool hasIptc() const;
    bool empty() const { return !hasExif() && !hasXmp() && !hasIptc(); }

    // Makes the EXIF's Orientation, where it has one, say what the decoded
    // pixels need (1 where the decoder turned them upright already).
    void setOrientation(int orientation);

    // The resolution EXIF gives, in pixels per millimetre, across and down
    // (nothing when it gives none).
    std::optional<std::pair<double, double>> resolution() const;

    // The EXIF as a TIFF structure, as PNG's eXIf chunk holds it: the
    // input's own block where it had one, else written anew (empty when
    // there is none or it cannot be encoded).
    std::string exifBlock() const;
    // The XMP packet as the input held it.
    std::string xmpPacket() const;

    // Rewrites the finished WebP or TIFF file open, read and write, at `fd`
    // with what this holds: the new file is made in memory and written over
    // the old, so a failure leaves an error, never a file that seems whole.
    // What the file holds already (its ICC profile, the kinds this lacks)
    // stays, and its own EXIF is written anew. The error names `shownName`;
    // `changed` says whether the file was touched before it came.
    Error rewrite(int fd, const std::string& shownName, bool& changed) const;
    // Writes what this holds into a JPEG's header: its bytes from the start
    // of the file to the end of its last APPn or COM segment, so that the
    // picture's data can stream past and only the header goes through memory.
    Error intoJpegHeader(std::string& header) const;

    // What this holds, as Exiv2 does (seen only inside this room).
    struct Held;

private:
    // The input's own block as it goes into an output, where it has one.
    std::optional<std::string> cameraBlock() const;

    std::unique_ptr<Held> held_;
};

// An EXIF block (a TIFF structure) holding Orientation alone.
std::string orientationBlock(int orientation);

} // namespace metadata
