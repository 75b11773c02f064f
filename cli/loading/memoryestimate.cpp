// SPDX-License-Identifier: GPL-3.0-or-later
#include "loading/memoryestimate.h"

#include <cstdio>

namespace loading {

namespace {

int intField(const vips::VImage& image, const char* name, int otherwise)
{
    int value = otherwise;
    if (vips_image_get_typeof(image.get_image(), name) == 0 ||
        vips_image_get_int(image.get_image(), name, &value) != 0)
        return otherwise;
    return value;
}

struct Estimate {
    std::uint64_t bytes;
    const char* why;
};

// What the loader holds at once, in bytes, and why.
Estimate estimate(const vips::VImage& image, formats::DecoderHolds holds)
{
    const auto width = std::uint64_t(image.width());
    const auto pageHeight = std::uint64_t(intField(image, "page-height", image.height()));
    const std::uint64_t pixels = width * pageHeight;
    const std::uint64_t samples = pixels * std::uint64_t(image.bands());
    const std::uint64_t sampleBytes = vips_format_sizeof(image.format());
    const bool interlaced = intField(image, "interlaced", 0) != 0;
    switch (holds) {
    case formats::DecoderHolds::CoefficientsIfProgressive:
        if (interlaced)
            return {samples * 2, "a progressive JPEG keeps every coefficient"};
        break;
    case formats::DecoderHolds::PixelsIfInterlaced:
        if (interlaced)
            return {samples * sampleBytes, "an interlaced PNG is decoded whole"};
        break;
    case formats::DecoderHolds::Frames:
        return {pixels * 4 * 2, "each frame is decoded whole"};
    case formats::DecoderHolds::Image:
        return {samples * sampleBytes * 2, "a HEIF image is decoded whole"};
    case formats::DecoderHolds::ImageWords:
        return {samples * 4, "a JPEG 2000 image is decoded whole"};
    case formats::DecoderHolds::Rows:
        break;
    }
    return {0, ""};
}

std::string mebibytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MiB", double(bytes) / double(1 << 20));
    return text;
}

} // namespace

Error memoryRefusal(const Loaded& loaded, std::uint64_t budget, int sharers)
{
    const Estimate needed =
        estimate(loaded.image, loaded.read ? loaded.read->holds : formats::DecoderHolds::Rows);
    const std::uint64_t share = budget / std::uint64_t(std::max(1, sharers));
    if (budget == 0 || needed.bytes <= share)
        return {};
    const std::string limit = sharers > 1 ? "its share of --max-memory, " + mebibytes(share) +
                                                " (" + mebibytes(budget) + " for " +
                                                std::to_string(sharers) + " workers; fewer with -j)"
                                          : "--max-memory " + mebibytes(budget);
    return Error("refused: decoding it would take about " + mebibytes(needed.bytes) + " (" +
                 needed.why + "), more than " + limit);
}

} // namespace loading
