// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "outcome.h"
#include "passschedule.h"
#include "pipeline/render.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace pipeline {

// The window's show from one picture, the file open at `fd` (-1: the
// embedded photograph) whose first bytes are `start`, written as an animation (GIF or WebP):
// `passes` pages, each the picture mapped on its pass's branch and shown for one pass. From an
// animation: each frame on the branch of the pass its time falls in, with its own timing. Committed
// once whole.
Outcome renderShow(int fd, std::string_view start, const ImageJob& job,
                   const transform::PassSchedule& schedule, int passes);

// The picture open at `fd` (-1: the embedded photograph) as 8-bit RGB
// rows, for a show written as a film; the error says why it cannot be.
struct RgbPicture {
    std::vector<std::uint8_t> rgb;
    int width = 0;
    int height = 0;
};
Error decodeRgb(int fd, std::string_view start, const ImageJob& job, RgbPicture& picture);

} // namespace pipeline
