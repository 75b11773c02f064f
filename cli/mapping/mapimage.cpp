// SPDX-License-Identifier: GPL-3.0-or-later
#include "mapping/mapimage.h"

#include "leveltable.h"

#include <vector>

namespace mapping {

using vips::VImage;

namespace {

// The level table as a one-row image for maplut, in the samples' own format.
VImage lookupTable(VipsBandFormat format, float a, transform::Branch branch)
{
    const bool wide = format == VIPS_FORMAT_USHORT;
    const transform::LevelTable levels(wide ? 65535 : 255, a, branch);
    VipsImage* table = nullptr;
    if (wide) {
        std::vector<std::uint16_t> entries(levels.size());
        for (std::size_t n = 0; n < entries.size(); ++n)
            entries[n] = levels[n];
        table = vips_image_new_from_memory_copy(entries.data(), entries.size() * 2,
                                                int(entries.size()), 1, 1, format);
    } else {
        std::vector<std::uint8_t> entries(levels.size());
        for (std::size_t n = 0; n < entries.size(); ++n)
            entries[n] = std::uint8_t(levels[n]);
        table = vips_image_new_from_memory_copy(entries.data(), entries.size(), int(entries.size()),
                                                1, 1, format);
    }
    if (!table)
        throw vips::VError("cannot make the level table");
    return {table};
}

// solveInverse on every sample, in floating point: y = 0.5 -+ 0.5 * sqrt(1 - 4v/a).
VImage formula(const VImage& v, float a, transform::Branch branch)
{
    const VImage clamped = (v < 0.0).ifthenelse(0.0, (v > 1.0).ifthenelse(1.0, v));
    const VImage root = clamped.linear(-4.0 / double(a), 1.0).pow(0.5);
    return root.linear(branch == transform::Branch::Lower ? -0.5 : 0.5, 0.5);
}

} // namespace

VImage mapImage(VImage image, float a, transform::Branch branch)
{
    if (image.interpretation() == VIPS_INTERPRETATION_CMYK) {
        image = image.colourspace(VIPS_INTERPRETATION_sRGB).copy();
        // The profile described the ink, not these samples.
        image.remove(VIPS_META_ICC_NAME);
    }
    const VipsBandFormat format = image.format();
    const bool floating = format == VIPS_FORMAT_FLOAT || format == VIPS_FORMAT_DOUBLE;

    const int colourBands = image.bands() - (image.has_alpha() ? 1 : 0);
    VImage colour = colourBands == image.bands()
                        ? image
                        : image.extract_band(0, VImage::option()->set("n", colourBands));
    VImage mapped =
        floating ? formula(colour, a, branch) : colour.maplut(lookupTable(format, a, branch));
    if (colourBands < image.bands())
        mapped = mapped.bandjoin(image.extract_band(
            colourBands, VImage::option()->set("n", image.bands() - colourBands)));
    return mapped.copy(VImage::option()->set("interpretation", image.interpretation()));
}

Error unmappableSamples(const VImage& image)
{
    switch (image.format()) {
    case VIPS_FORMAT_UCHAR:
    case VIPS_FORMAT_USHORT:
    case VIPS_FORMAT_FLOAT:
    case VIPS_FORMAT_DOUBLE:
        return {};
    default:
        return Error(std::string(vips_enum_nick(VIPS_TYPE_BAND_FORMAT, image.format())) +
                     " samples are not supported (8 or 16 bits unsigned, or float)");
    }
}

} // namespace mapping
