// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <exiv2/exiv2.hpp>

#include <optional>
#include <string>

// The EXIF block as the camera wrote it (a TIFF structure: header, IFDs,
// maker notes), carried byte for byte into outputs that hold EXIF as one
// block (JPEG's APP1, WebP's EXIF chunk, PNG's eXIf). Nothing moves in it,
// and no entry's type or count changes, so maker notes stay valid whatever
// their maker; what must change is changed in place: Orientation, and
// every picture in it (EXIF's thumbnail, a maker note's preview) zeroed.
namespace metadata {

// The block with Orientation set to `orientation` (0: as it was) where it
// has one, its thumbnail directory unlinked and every picture in it zeroed;
// nothing when a picture in it cannot be found or blanked safely.
std::optional<std::string> cameraBlockForOutput(const std::string& block, int orientation);

// Whether an EXIF block (a TIFF structure) holds a picture: a preview
// Exiv2 finds with any byte not zero, or a JPEG stream anywhere in it.
bool holdsPictures(const std::string& block);

// Exiv2's EXIF without the previews of the unrendered picture it knows of
// (for the outputs whose EXIF is written anew).
void erasePreviews(Exiv2::ExifData& exif);

} // namespace metadata
