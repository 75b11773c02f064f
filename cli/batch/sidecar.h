// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/input.h"
#include "error.h"

#include <string>

namespace batch {

// An image's XMP sidecar: the file beside it named as it is with .xmp
// (IMG_0001.xmp, any case) or with .xmp after its whole name
// (IMG_0001.JPG.xmp), as photo managers keep what they add to a picture.
// Copied beside the image's rendering under the rendering's name, in the
// same form, it goes on describing it. Returns whether one was carried;
// the error says why one found was not (one that exists already is kept
// unless `replace`, one larger than any sidecar is refused).
struct Sidecar {
    bool carried = false;
    Error error;
};
Sidecar carrySidecar(const command::Input& input, const std::string& output, bool replace);

} // namespace batch
