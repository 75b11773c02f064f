// SPDX-License-Identifier: GPL-3.0-or-later
#include "mapping/sheet.h"

#include "colourmap.h"
#include "mapping/mapimage.h"

#include <cstdio>
#include <map>
#include <string>

using vips::VImage;

namespace mapping {

namespace {

constexpr int gap = 12;

// The picture as the sheet shows it: upright, small, 8-bit sRGB, no alpha.
VImage small(const VImage& image, int cell)
{
    VImage picture = image.thumbnail_image(
        cell, VImage::option()->set("height", cell)->set("size", VIPS_SIZE_DOWN));
    if (picture.has_alpha())
        picture = picture.extract_band(0, VImage::option()->set("n", picture.bands() - 1));
    if (vips_band_format_isfloat(picture.format()))
        picture = (picture * 255.0)
                      .cast(VIPS_FORMAT_UCHAR)
                      .copy(VImage::option()->set("interpretation", picture.bands() >= 3
                                                                        ? VIPS_INTERPRETATION_sRGB
                                                                        : VIPS_INTERPRETATION_B_W));
    picture = picture.colourspace(VIPS_INTERPRETATION_sRGB);
    if (picture.format() != VIPS_FORMAT_UCHAR)
        picture = picture.cast(VIPS_FORMAT_UCHAR, VImage::option()->set("shift", true));
    return picture;
}

// "a = 4.5, lower", as a mask: drawn once, as drawing opens fonts.
VImage ink(float a, transform::Branch branch)
{
    static std::map<std::string, VImage> drawn;
    char text[64];
    std::snprintf(text, sizeof text, "a = %g, %s", double(a),
                  branch == transform::Branch::Lower ? "lower" : "upper");
    if (const auto found = drawn.find(text); found != drawn.end())
        return found->second;
    VImage mask =
        VImage::text(text, VImage::option()->set("font", "sans 11")->set("dpi", 96)).copy_memory();
    drawn.emplace(text, mask);
    return mask;
}

// The label in black, centred on a white strip `width` wide.
VImage label(float a, transform::Branch branch, int width)
{
    const VImage ink = mapping::ink(a, branch);
    const int height = ink.height() + gap;
    const VImage strip = 255 - ink.embed((width - ink.width()) / 2, gap / 2, width, height);
    return VImage::bandjoin(std::vector<VImage>{strip, strip, strip}).cast(VIPS_FORMAT_UCHAR);
}

// Only the pixels: the sheet is no copy of the photograph, and carries
// nothing of the file it shows (EXIF, XMP, a profile it no longer has).
VImage withoutMetadata(const VImage& image)
{
    VImage bare = image.copy();
    gchar** fields = vips_image_get_fields(bare.get_image());
    for (gchar** field = fields; *field; ++field)
        bare.remove(*field);
    g_strfreev(fields);
    return bare;
}

} // namespace

void drawLabels(const std::vector<float>& values)
{
    for (const transform::Branch branch : {transform::Branch::Lower, transform::Branch::Upper})
        for (const float a : values)
            (void)ink(a, branch);
}

VImage contactSheet(const VImage& image, const std::vector<float>& values, int cell)
{
    const VImage picture = small(image, cell);
    std::vector<VImage> tiles;
    for (const transform::Branch branch : {transform::Branch::Lower, transform::Branch::Upper})
        for (const float a : values) {
            const VImage mapped = mapImage(picture, a, branch).cast(VIPS_FORMAT_UCHAR);
            tiles.push_back(mapped.join(label(a, branch, mapped.width()), VIPS_DIRECTION_VERTICAL));
        }
    const VImage sheet =
        VImage::arrayjoin(tiles, VImage::option()
                                     ->set("across", int(values.size()))
                                     ->set("shim", gap)
                                     ->set("background", std::vector<double>{255.0}));
    return withoutMetadata(sheet.embed(gap, gap, sheet.width() + 2 * gap, sheet.height() + 2 * gap,
                                       VImage::option()
                                           ->set("extend", VIPS_EXTEND_BACKGROUND)
                                           ->set("background", std::vector<double>{255.0})));
}

} // namespace mapping
