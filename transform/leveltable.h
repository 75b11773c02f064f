// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace transform {

// The colour map for every level 0..maxLevel of one channel, computed once
// per image so that applying it is one lookup per sample. For maxLevel 255
// each entry is exactly mapChannel's result; for other depths the level is
// scaled by maxLevel instead of 255 and rounded the same way. The table
// covers every value the sample's storage can hold (256 or 65536 entries);
// values above maxLevel, which a well-formed file never holds, map as
// maxLevel does.
class LevelTable {
public:
    LevelTable(int maxLevel, float a, Branch branch);

    std::size_t size() const { return levels_.size(); }
    std::uint16_t operator[](std::size_t level) const { return levels_[level]; }

private:
    std::vector<std::uint16_t> levels_;
};

} // namespace transform
