// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/encoding.h"

namespace saving {

Encoding encodingOf(const command::Options& options)
{
    Encoding encoding;
    encoding.quality = options.quality;
    encoding.keepQuality = options.keepQuality;
    encoding.compression = options.compression;
    encoding.pngFilters = options.pngFilters;
    encoding.strip = options.strip;
    encoding.stripIcc = options.stripIcc;
    encoding.lossless = options.lossless;
    encoding.tiffCompression = options.tiffCompression;
    return encoding;
}

} // namespace saving
