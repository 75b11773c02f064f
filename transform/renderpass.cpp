// SPDX-License-Identifier: GPL-3.0-or-later
#include "renderpass.h"

#include "colourmap.h"
#include "runtime.h"
#include "runtimeerror.h"

#include <cstdint>

namespace transform {

namespace {

std::int16_t increment(std::int16_t counter)
{
    if (counter == INT16_MAX)
        throw platform::RuntimeError(platform::RuntimeError::Code::Overflow,
                                     "pixel counter passed 32767");
    return static_cast<std::int16_t>(counter + 1);
}

} // namespace

float clockSeededDraw()
{
    platform::randomize();
    return platform::nextRandom();
}

void renderPass(platform::PictureBox& from, platform::PictureBox& to, float a,
                const BranchDraw& draw)
{
    to.setAutoRedraw(true);
    to.setWidth(from.Width());
    to.setHeight(from.Height());
    to.setScaleMode(platform::ScaleMode::Pixels);
    from.setScaleMode(platform::ScaleMode::Pixels);

    const float t = draw();
    const std::int16_t lowerBranch = branchForDraw(t) == Branch::Lower ? 1 : 0;

    const std::int16_t rowBound = platform::roundToInt16(from.ScaleHeight());
    for (std::int16_t y = 0; y <= rowBound; y = increment(y)) {
        // Re-read for every row: the bound follows the source if it changes size.
        const std::int16_t columnBound = platform::roundToInt16(from.ScaleWidth());
        for (std::int16_t x = 0; x <= columnBound; x = increment(x)) {
            const platform::Colour colour = from.Point(x, y);
            const Branch branch = lowerBranch == 1 ? Branch::Lower : Branch::Upper;
            to.PSet(x, y, mapColour(colour, a, branch));
        }
    }
}

} // namespace transform
