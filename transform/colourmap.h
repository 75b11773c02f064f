#pragma once

#include "picturebox.h"

namespace transform {

enum class Branch { Lower, Upper };

// The chosen solution y of a * y * (1 - y) = v, for v in [0, 1] and a >= 4.
double solveInverse(double v, float a, Branch branch);

// Maps one channel value n (0..255) to solveInverse(n / 255) scaled back to
// 0..255, rounded to nearest with ties to even.
int mapChannel(int n, float a, Branch branch);

// Maps each channel of a colour value through mapChannel and packs the result.
platform::Colour mapColour(platform::Colour colour, float a, Branch branch);

} // namespace transform
