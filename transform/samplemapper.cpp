// SPDX-License-Identifier: GPL-3.0-or-later
#include "samplemapper.h"

#include "runtimeerror.h"

#include <algorithm>
#include <cstring>

namespace transform {

namespace {

template <typename Sample, typename Table>
void mapEach(const Sample* in, Sample* out, std::size_t pixels, SampleLayout layout,
             const Table& table)
{
    if (layout.samplesPerPixel == 4 && layout.colourSamples == 3) {
        for (std::size_t i = 0; i < pixels; ++i, in += 4, out += 4) {
            out[0] = table[in[0]];
            out[1] = table[in[1]];
            out[2] = table[in[2]];
            out[3] = in[3];
        }
        return;
    }
    for (std::size_t i = 0; i < pixels;
         ++i, in += layout.samplesPerPixel, out += layout.samplesPerPixel) {
        int c = 0;
        for (; c < layout.colourSamples; ++c)
            out[c] = table[in[c]];
        for (; c < layout.samplesPerPixel; ++c)
            out[c] = in[c];
    }
}

} // namespace

SampleMapper::SampleMapper(const LevelTable& table, std::endian wordOrder)
{
    if (table.size() == 65536) {
        const auto ordered = [wordOrder](std::uint16_t v) {
            return wordOrder == std::endian::native ? v : std::uint16_t((v >> 8) | (v << 8));
        };
        words_.assign(65536, 0);
        for (std::size_t n = 0; n < words_.size(); ++n)
            words_[ordered(std::uint16_t(n))] = ordered(table[n]);
        return;
    }
    for (std::size_t n = 0; n < bytes_.size(); ++n)
        bytes_[n] = std::uint8_t(table[n]);
    pairs_.assign(65536, 0);
    for (int first = 0; first < 256; ++first)
        for (int second = 0; second < 256; ++second) {
            const std::uint8_t in[2] = {std::uint8_t(first), std::uint8_t(second)};
            const std::uint8_t out[2] = {bytes_[first], bytes_[second]};
            std::uint16_t key = 0;
            std::memcpy(&key, in, 2);
            std::memcpy(&pairs_[key], out, 2);
        }
}

void SampleMapper::map(const std::uint8_t* in, std::uint8_t* out, std::size_t pixels,
                       SampleLayout layout) const
{
    if (pairs_.empty())
        throw platform::RuntimeError(platform::RuntimeError::Code::InvalidArgument,
                                     "an 8-bit sample needs a table of 256 levels");
    if (layout.colourSamples != layout.samplesPerPixel) {
        mapEach(in, out, pixels, layout, bytes_);
        return;
    }
    const std::size_t count = pixels * std::size_t(layout.samplesPerPixel);
    std::size_t i = 0;
    for (; i + 2 <= count; i += 2) {
        std::uint16_t pair = 0;
        std::memcpy(&pair, in + i, 2);
        std::memcpy(out + i, &pairs_[pair], 2);
    }
    if (i < count)
        out[i] = bytes_[in[i]];
}

void SampleMapper::map(const std::uint16_t* in, std::uint16_t* out, std::size_t pixels,
                       SampleLayout layout) const
{
    if (words_.empty())
        throw platform::RuntimeError(platform::RuntimeError::Code::InvalidArgument,
                                     "a 16-bit sample needs a table of 65536 levels");
    if (layout.colourSamples == layout.samplesPerPixel) {
        const std::size_t count = pixels * std::size_t(layout.samplesPerPixel);
        for (std::size_t i = 0; i < count; ++i)
            out[i] = words_[in[i]];
        return;
    }
    mapEach(in, out, pixels, layout, words_);
}

} // namespace transform
