// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "picturebox.h"

#include <cmath>
#include <cstdint>
#include <initializer_list>

namespace platform {

// Reseeds the generator behind nextRandom from a high-resolution clock.
void randomize();
// The next uniform number in [0, 1).
float nextRandom();

// A render pass calls the three functions below for every channel of every
// pixel, so their checks are inline and only the failures are not.
[[noreturn]] void failSquareRoot(double value);
[[noreturn]] void failColourChannel(int channel);
[[noreturn]] void failRoundToInt16(double value);

// Square root; a negative or NaN argument is an invalid call.
inline double squareRoot(double value)
{
    if (!(value >= 0.0)) [[unlikely]]
        failSquareRoot(value);
    return std::sqrt(value);
}

// red + 256 * green + 65536 * blue; each channel must lie in 0..255.
inline Colour rgb(int red, int green, int blue)
{
    for (int channel : {red, green, blue})
        if (channel < 0 || channel > 255) [[unlikely]]
            failColourChannel(channel);
    return red + 256 * green + 65536 * blue;
}

// Rounds to nearest, ties to even; fails on NaN and outside -32768..32767.
inline std::int16_t roundToInt16(double value)
{
    // rint rounds as nearbyint does (to nearest, ties to even, in the default
    // mode) without saving and restoring the floating-point state each call.
    const double rounded = std::rint(value);
    if (!(rounded >= -32768.0 && rounded <= 32767.0)) [[unlikely]]
        failRoundToInt16(value);
    return static_cast<std::int16_t>(rounded);
}

} // namespace platform
