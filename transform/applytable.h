#pragma once

#include "leveltable.h"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace transform {

// How the samples of a row are laid out: the samples per pixel, and how many
// of them (from the first) are colour channels; the rest, such as alpha or
// padding, pass through unchanged.
struct SampleLayout {
    int samplesPerPixel;
    int colourSamples;
};

// Maps the colour samples of `pixels` pixels in place. The 8-bit form needs
// a table of 256 entries, the 16-bit form (machine byte order) one of 65536.
void applyTable(std::uint8_t* samples, std::size_t pixels, SampleLayout layout,
                const LevelTable& table);
void applyTable(std::uint16_t* samples, std::size_t pixels, SampleLayout layout,
                const LevelTable& table);

// Calls job(firstRow, endRow) for consecutive ranges covering [0, rows), on up
// to `threads` threads, and returns when all are done.
void forRowRanges(int rows, int threads, const std::function<void(int, int)>& job);

} // namespace transform
