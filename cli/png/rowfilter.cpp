// SPDX-License-Identifier: GPL-3.0-or-later
#include "png/rowfilter.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace png {

namespace {

// A filtered byte's weight in the choice: its distance from zero, read as signed.
inline std::uint64_t weight(unsigned char v) { return v < 128 ? v : 256 - v; }

std::uint64_t noneWeight(const unsigned char* __restrict x, std::size_t n)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += weight(x[i]);
    return sum;
}

// Filters a row in stretches, giving up once its weight passes `bound` (the
// best so far, which it can then no longer beat), as libpng does; a stretch
// is long enough for its loop to run in vector instructions. `first` filters
// the bytes of the first pixel, `rest` those after it.
template <typename First, typename Rest>
std::uint64_t filterWeight(std::size_t n, std::size_t bpp, std::uint64_t bound,
                           unsigned char* __restrict out, First first, Rest rest)
{
    constexpr std::size_t stretch = 4096;
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bpp; ++i)
        sum += weight(out[i] = first(i));
    for (std::size_t from = bpp; from < n && sum <= bound; from += stretch) {
        const std::size_t to = std::min(n, from + stretch);
        for (std::size_t i = from; i < to; ++i)
            sum += weight(out[i] = rest(i));
    }
    return sum;
}

// Paeth's predictor of a byte from the ones left (a), above (b) and above left (c).
inline unsigned char paethPredictor(int a, int b, int c)
{
    const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
    return static_cast<unsigned char>((pa <= pb && pa <= pc) ? a : (pb <= pc ? b : c));
}

} // namespace

RowFilter::RowFilter(std::size_t rowBytes, std::size_t bytesPerPixel, bool adaptive)
    : rowBytes_(rowBytes), bpp_(bytesPerPixel), adaptive_(adaptive), current_(rowBytes + 1, 0)
{
    if (!adaptive_)
        return;
    above_.assign(rowBytes + 1, 0);
    for (int filter = 0; filter < 4; ++filter) {
        candidates_[filter].resize(rowBytes + 1);
        candidates_[filter][0] = static_cast<unsigned char>(filter + 1);
    }
}

std::span<const unsigned char> RowFilter::filterRow()
{
    if (!adaptive_)
        return current_;
    const unsigned char* __restrict x = current_.data() + 1;
    const unsigned char* __restrict b = above_.data() + 1;
    const std::size_t n = rowBytes_, bpp = bpp_;
    const auto byte = [](int value) { return static_cast<unsigned char>(value); };
    // Left of the first pixel, bytes count as zeros.
    std::uint64_t weights[5] = {noneWeight(x, n)};
    std::uint64_t bound = weights[0];
    weights[1] = filterWeight(
        n, bpp, bound, candidates_[0].data() + 1, [&](std::size_t i) { return x[i]; },
        [&](std::size_t i) { return byte(x[i] - x[i - bpp]); });
    bound = std::min(bound, weights[1]);
    weights[2] = filterWeight(
        n, bpp, bound, candidates_[1].data() + 1, [&](std::size_t i) { return byte(x[i] - b[i]); },
        [&](std::size_t i) { return byte(x[i] - b[i]); });
    bound = std::min(bound, weights[2]);
    weights[3] = filterWeight(
        n, bpp, bound, candidates_[2].data() + 1,
        [&](std::size_t i) { return byte(x[i] - (b[i] >> 1)); },
        [&](std::size_t i) { return byte(x[i] - ((x[i - bpp] + b[i]) >> 1)); });
    bound = std::min(bound, weights[3]);
    weights[4] = filterWeight(
        n, bpp, bound, candidates_[3].data() + 1, [&](std::size_t i) { return byte(x[i] - b[i]); },
        [&](std::size_t i) { return byte(x[i] - paethPredictor(x[i - bpp], b[i], b[i - bpp])); });
    int best = 0;
    for (int filter = 1; filter < 5; ++filter)
        if (weights[filter] < weights[best])
            best = filter;
    // The row becomes the one above; the returned bytes stay untouched until
    // the next call, since the caller fills the other buffer meanwhile.
    current_.swap(above_);
    if (best == 0)
        return above_;
    return candidates_[best - 1];
}

} // namespace png
