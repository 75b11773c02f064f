#pragma once

#include "picturebox.h"

#include <cstdint>

namespace platform {

// Reseeds the generator behind nextRandom from a high-resolution clock.
void randomize();
// The next uniform number in [0, 1).
float nextRandom();

// Square root; a negative or NaN argument is an invalid call.
double squareRoot(double value);

// red + 256 * green + 65536 * blue; each channel must lie in 0..255.
Colour rgb(int red, int green, int blue);

// Rounds to nearest, ties to even; fails on NaN and outside -32768..32767.
std::int16_t roundToInt16(double value);

} // namespace platform
