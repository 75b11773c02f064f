// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "leveltable.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace transform {

// How the samples of a row are laid out: the samples per pixel, and how many
// of them (from the first) are colour channels; the rest, such as alpha or
// padding, are copied unchanged.
struct SampleLayout {
    int samplesPerPixel;
    int colourSamples;
};

// Applies a level table to rows of samples: one lookup per sample, with no
// arithmetic and no branch per sample. Made once per image.
class SampleMapper {
public:
    // 16-bit samples are taken, and written, in `wordOrder`: a file's own
    // byte order needs no swapping around each lookup.
    explicit SampleMapper(const LevelTable& table, std::endian wordOrder = std::endian::native);

    // 8-bit samples (a table of 256 levels); `out` may be `in`.
    void map(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
             SampleLayout layout) const;
    // 16-bit samples in the mapper's word order (a table of 65536 levels); `out` may be `in`.
    void map(const std::uint16_t* in, std::uint16_t* out, std::size_t pixels,
             SampleLayout layout) const;

private:
    std::array<std::uint8_t, 256> bytes_{};
    // Two 8-bit samples at once, indexed by the pair as it lies in memory:
    // half the lookups, from a table that still fits the second cache level.
    std::vector<std::uint16_t> pairs_;
    std::vector<std::uint16_t> words_;
};

} // namespace transform
