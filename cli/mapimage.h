#pragma once

#include "colourmap.h"

#include <vips/vips8>

// The colour map as a libvips pipeline: 8- and 16-bit samples through the
// level table (maplut), float samples through the formula itself with v
// clamped to [0, 1]. Alpha is never mapped; CMYK becomes sRGB first.
// Nothing is computed until the result is written. Throws vips::VError for
// samples of a kind the map has no meaning for (signed or 32-bit integers,
// complex numbers).
vips::VImage mapImage(vips::VImage image, float a, transform::Branch branch);
