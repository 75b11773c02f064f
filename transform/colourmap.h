#pragma once

#include "picturebox.h"

namespace transform {

enum class Branch { Lower, Upper };

// Maps one channel value n (0..255) to the chosen solution y of
// a * y * (1 - y) = n / 255, scaled back to 0..255.
int mapChannel(int n, float a, Branch branch);

// Maps each channel of a colour value through mapChannel and packs the result.
platform::Colour mapColour(platform::Colour colour, float a, Branch branch);

} // namespace transform
