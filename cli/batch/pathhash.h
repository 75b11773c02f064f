// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"

#include <cstdint>
#include <string_view>

// What a batch decides from an input's path alone, so that the same input
// gets the same answer on every machine, in every build, in any order, in
// any split of the batch and in a resumed run.
namespace batch::pathhash {

// The draw in [0, 1), a multiple of 2^-24, made for an input rendered with
// --seed, from the seed and the bytes of the path as given; and the branch
// it picks, lower below one half.
float drawFor(std::uint64_t seed, std::string_view path);
transform::Branch branchFor(std::uint64_t seed, std::string_view path);

// Where a show's draws (--passes) come from, for an input rendered with
// --seed: from the seed and the path as given, as its one draw is.
std::uint64_t passDrawsFor(std::uint64_t seed, std::string_view path);

// Which of `count` shards (1..count) renders the input.
int shardOf(std::string_view path, int count);

} // namespace batch::pathhash
