// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>

namespace transform {

// SplitMix64's finaliser: every bit of the input moves every bit of the
// output. The draws of branches (per file and per pass) are made from it:
// never change it, or old batches and shows made with --seed come out
// otherwise (tst_pathhash and tst_passschedule pin its answers).
inline std::uint64_t mixBits(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15u;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9u;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebu;
    return x ^ (x >> 31);
}

} // namespace transform
