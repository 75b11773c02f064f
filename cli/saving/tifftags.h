// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "metadata/carried.h"

#include <vector>

namespace fileio {
class OutputFile;
}

namespace saving {

// Adds EXIF's entries to the finished TIFF `output` (of any number of
// pages, which Exiv2 0.27 cannot rewrite): those of the first directory
// join the first page's, and EXIF's and GPS's directories are written
// whole and linked from it. libtiff writes them, each in the type it
// knows the tag by. A failed write is returned, naming the output.
Error writeTiffTags(fileio::OutputFile& output, const std::vector<metadata::TiffTag>& tags);

} // namespace saving
