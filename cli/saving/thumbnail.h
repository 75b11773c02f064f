// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vips/vips8>

namespace saving {

// The image without the thumbnail its EXIF carries: that thumbnail shows the
// picture before it was rendered, and file browsers would show it for the
// rendering.
vips::VImage withoutExifThumbnail(const vips::VImage& image);

} // namespace saving
