// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <vips/vips8>

#include <vector>

namespace mapping {

// A contact sheet of the picture, to choose a and the branch by: the
// picture upright, scaled to fit `cell` pixels, once for each value of a
// (in columns) on the lower branch and on the upper (in rows), each
// labelled, on white; 8-bit sRGB, with none of the input's metadata.
vips::VImage contactSheet(const vips::VImage& image, const std::vector<float>& values,
                          int cell = 320);

// Draws the labels of a sheet of `values` ahead: drawing opens fonts.
void drawLabels(const std::vector<float>& values);

} // namespace mapping
