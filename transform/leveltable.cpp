// SPDX-License-Identifier: GPL-3.0-or-later
#include "leveltable.h"

#include "runtimeerror.h"

#include <cmath>

namespace transform {

LevelTable::LevelTable(int maxLevel, float a, Branch branch)
{
    if (maxLevel < 1 || maxLevel > 65535)
        throw platform::RuntimeError(platform::RuntimeError::Code::InvalidArgument,
                                     "channel depth outside 1..65535");
    levels_.resize(maxLevel <= 255 ? 256 : 65536);
    for (int n = 0; n <= maxLevel; ++n) {
        if (maxLevel == 255) {
            levels_[n] = std::uint16_t(mapChannel(n, a, branch));
            continue;
        }
        const double scaled = solveInverse(double(n) / maxLevel, a, branch) * maxLevel;
        levels_[n] = std::uint16_t(std::nearbyint(scaled));
    }
    for (std::size_t n = std::size_t(maxLevel) + 1; n < levels_.size(); ++n)
        levels_[n] = levels_[maxLevel];
}

} // namespace transform
