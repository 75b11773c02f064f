// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <optional>

namespace loading {

// How a JPEG was encoded, as its header tells: the quality its luminance
// table was scaled from (the IJG scale, which most encoders follow), and
// whether its colour is at half resolution.
struct JpegCoding {
    int quality;
    bool chromaHalved; // 4:2:0 or 4:2:2
};

// The coding of the JPEG open at `fd`, read in place; nothing when its
// header cannot be read (within its first MiB).
std::optional<JpegCoding> jpegCodingOf(int fd);

} // namespace loading
