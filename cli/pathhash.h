#pragma once

#include "colourmap.h"

#include <cstdint>
#include <string_view>

// What a batch decides from an input's path alone, so that the same input
// gets the same answer on every machine, in every build, in any order, in
// any split of the batch and in a resumed run.
namespace pathhash {

// The branch of an input rendered with --seed: one draw in [0, 1) from the
// seed and the bytes of the path as given, lower below one half.
transform::Branch branchFor(std::uint64_t seed, std::string_view path);

// Which of `count` shards (1..count) renders the input.
int shardOf(std::string_view path, int count);

} // namespace pathhash
