#include "png/rowfilter.h"

#include <cstdint>
#include <cstdlib>

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

// Each filter writes its bytes to `out` and returns their weight. `x` is the
// row, `b` the row above; the bytes left of the first pixel count as zeros.
std::uint64_t sub(const unsigned char* __restrict x, std::size_t n, std::size_t bpp,
                  unsigned char* __restrict out)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bpp; ++i)
        sum += weight(out[i] = x[i]);
    for (std::size_t i = bpp; i < n; ++i)
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - x[i - bpp]));
    return sum;
}

std::uint64_t up(const unsigned char* __restrict x, const unsigned char* __restrict b,
                 std::size_t n, unsigned char* __restrict out)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < n; ++i)
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - b[i]));
    return sum;
}

std::uint64_t average(const unsigned char* __restrict x, const unsigned char* __restrict b,
                      std::size_t n, std::size_t bpp, unsigned char* __restrict out)
{
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bpp; ++i)
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - (b[i] >> 1)));
    for (std::size_t i = bpp; i < n; ++i)
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - ((x[i - bpp] + b[i]) >> 1)));
    return sum;
}

std::uint64_t paeth(const unsigned char* __restrict x, const unsigned char* __restrict b,
                    std::size_t n, std::size_t bpp, unsigned char* __restrict out)
{
    std::uint64_t sum = 0;
    // Left of the first pixel, a and c are 0, so the predictor is b.
    for (std::size_t i = 0; i < bpp; ++i)
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - b[i]));
    for (std::size_t i = bpp; i < n; ++i) {
        const int a = x[i - bpp], up = b[i], c = b[i - bpp];
        const int pa = std::abs(up - c), pb = std::abs(a - c), pc = std::abs(a + up - 2 * c);
        const int predictor = (pa <= pb && pa <= pc) ? a : (pb <= pc ? up : c);
        sum += weight(out[i] = static_cast<unsigned char>(x[i] - predictor));
    }
    return sum;
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
    const unsigned char* x = current_.data() + 1;
    const unsigned char* b = above_.data() + 1;
    std::uint64_t weights[5] = {
        noneWeight(x, rowBytes_),
        sub(x, rowBytes_, bpp_, candidates_[0].data() + 1),
        up(x, b, rowBytes_, candidates_[1].data() + 1),
        average(x, b, rowBytes_, bpp_, candidates_[2].data() + 1),
        paeth(x, b, rowBytes_, bpp_, candidates_[3].data() + 1),
    };
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
