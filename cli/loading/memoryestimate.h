// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "loading/load.h"

#include <cstdint>

namespace loading {

// Refuses, before decoding, an image whose loader would hold more than
// `budget` bytes (0: no limit). Most loaders stream a few rows at a time,
// but some hold much more: a progressive JPEG keeps every coefficient of
// every scan, an interlaced PNG every pixel, GIF and WebP decode each frame
// whole (and keep the one before, for the next to be drawn on), HEIF and
// JPEG 2000 decode whole images. The estimate comes from the header alone.
// The budget is the run's, which `sharers` workers share alike.
Error memoryRefusal(const Loaded& loaded, std::uint64_t budget, int sharers = 1);

} // namespace loading
