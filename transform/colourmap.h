// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

namespace transform {

enum class Branch { Lower, Upper };

// Below this the square root in the map would see a negative number, so
// every smaller parameter counts as this one.
inline constexpr float smallestParameter = 4.0f;
inline float clampParameter(float a) { return a < smallestParameter ? smallestParameter : a; }

// A uniform draw in [0, 1) picks the lower branch when it is below one half.
inline Branch branchForDraw(float t) { return 0.5f > t ? Branch::Lower : Branch::Upper; }

// The chosen solution y of a * y * (1 - y) = v, for v in [0, 1] and a >= 4.
double solveInverse(double v, float a, Branch branch);

// Maps one channel value n (0..255) to solveInverse(n / 255) scaled back to
// 0..255, rounded to nearest with ties to even.
int mapChannel(int n, float a, Branch branch);

// Maps each channel of a colour value through mapChannel and packs the result.
platform::Colour mapColour(platform::Colour colour, float a, Branch branch);

} // namespace transform
