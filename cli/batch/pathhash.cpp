// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/pathhash.h"

#include "bitmix.h"

// NEVER CHANGE THE ARITHMETIC BELOW (nor transform/bitmix.h). People rerun old batches (a resumed
// run, a shard on another machine, an archive rendered years ago) and expect every image to come
// out as it did: any change here silently renders some of them in the other branch or in another
// shard. The hash is written out in full, not taken from a library or from std::hash, whose results
// may differ between builds. tst_pathhash pins known answers.

namespace batch::pathhash {

namespace {

// FNV-1a, 64 bits, over the path's bytes.
std::uint64_t hashOf(std::string_view path)
{
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char byte : path) {
        hash ^= std::uint8_t(byte);
        hash *= 0x100000001b3u;
    }
    return hash;
}

} // namespace

float drawFor(std::uint64_t seed, std::string_view path)
{
    // The top 24 bits, as a float in [0, 1) with spacing 2^-24.
    const std::uint64_t bits = transform::mixBits(transform::mixBits(seed) ^ hashOf(path));
    return float(bits >> 40) * 0x1p-24f;
}

transform::Branch branchFor(std::uint64_t seed, std::string_view path)
{
    return transform::branchForDraw(drawFor(seed, path));
}

std::uint64_t passDrawsFor(std::uint64_t seed, std::string_view path)
{
    // Apart from the file's one draw: a show's first pass need not be it.
    return transform::mixBits(transform::mixBits(seed) ^ hashOf(path) ^ 0x5061737365730000u);
}

int shardOf(std::string_view path, int count)
{
    return int(transform::mixBits(hashOf(path)) % std::uint64_t(count)) + 1;
}

} // namespace batch::pathhash
