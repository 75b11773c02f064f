#pragma once

#include <exiv2/exiv2.hpp>

#include <optional>
#include <string>

// The EXIF block as the camera wrote it (a TIFF structure: header, IFDs,
// maker notes), carried byte for byte into outputs that hold EXIF as one
// block (JPEG's APP1, WebP's EXIF chunk, PNG's eXIf). Nothing moves in it,
// so maker notes stay valid whatever their maker; what must change is
// changed in place: Orientation, and every preview of the unrendered
// picture (EXIF's thumbnail, a maker note's) blanked.
namespace metadata {

// The block with Orientation set to `orientation` (0: as it was) where it
// has one, and its previews zeroed; nothing when Exiv2 cannot change it in
// place (the caller then writes EXIF anew).
std::optional<std::string> cameraBlockForOutput(const std::string& block, int orientation);

// Exiv2's EXIF without the previews of the unrendered picture it knows of
// (for the outputs whose EXIF is written anew).
void erasePreviews(Exiv2::ExifData& exif);

} // namespace metadata
