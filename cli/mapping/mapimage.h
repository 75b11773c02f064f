// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"
#include "error.h"

#include <vips/vips8>

namespace mapping {

// The colour map as a libvips pipeline: 8- and 16-bit samples through the
// level table (maplut), float samples through the formula itself with v
// clamped to [0, 1]. Alpha is never mapped; CMYK becomes sRGB first.
// Nothing is computed until the result is written.
vips::VImage mapImage(vips::VImage image, float a, transform::Branch branch);

// Why the map has no meaning for the image's samples (signed or 32-bit
// integers, complex numbers), if it has none.
Error unmappableSamples(const vips::VImage& image);

} // namespace mapping
