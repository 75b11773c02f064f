// SPDX-License-Identifier: GPL-3.0-or-later
#include "colourmap.h"

#include "runtime.h"

namespace transform {

double solveInverse(double v, float a, Branch branch)
{
    const double s = 1.0 - ((v * 4.0) / double(a));
    const double q = platform::squareRoot(s);
    return branch == Branch::Lower ? 0.5 - q * 0.5 : q * 0.5 + 0.5;
}

int mapChannel(int n, float a, Branch branch)
{
    return platform::roundToInt16(solveInverse(n / 255.0, a, branch) * 255.0);
}

platform::Colour mapColour(platform::Colour colour, float a, Branch branch)
{
    // Truncating division, not a shift: -1 splits into red 255, green 0, blue 0.
    const int red = colour & 255;
    const int green = (colour / 256) & 255;
    const int blue = (colour / 65536) & 255;
    return platform::rgb(mapChannel(red, a, branch), mapChannel(green, a, branch),
                         mapChannel(blue, a, branch));
}

} // namespace transform
