// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

#include <functional>

namespace transform {

// One uniform draw in [0, 1) that decides a pass's branch.
using BranchDraw = std::function<float()>;

// Reseeds the runtime's generator from the clock, then draws once.
float clockSeededDraw();

// Recomputes the whole target from the source: gives the target the
// source's size, switches both to pixels, draws the branch once, then maps
// every pixel of the source's inner area plus one column and one row past
// it (which read as the outside value) into the target.
void renderPass(platform::PictureBox& from, platform::PictureBox& to, float a,
                const BranchDraw& draw = clockSeededDraw);

} // namespace transform
