// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <tiffio.h>

namespace loading {

// A TIFF read by libtiff from a descriptor in place, at offsets of its own:
// the descriptor's own offset stays where it was. It must outlive the TIFF
// that open() returns (null for a file that is no TIFF; TIFFClose ends it).
struct TiffInPlace {
    int fd;
    toff_t at = 0;

    TIFF* open(const char* name);
};

} // namespace loading
