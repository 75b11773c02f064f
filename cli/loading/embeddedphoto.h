// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vips/vips8>

#include <optional>

namespace loading {

// The photograph both programs embed, as an sRGB image. It is the program's
// own 24-bit BMP file, unpacked here, so that rendering it needs no loader
// that libvips marks untrusted.
// Nothing when the embedded file is damaged.
std::optional<vips::VImage> embeddedPhotograph();

} // namespace loading
