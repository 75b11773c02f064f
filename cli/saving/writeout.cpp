// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/writeout.h"

#include "fileio/outputfile.h"
#include "saving/save.h"
#include "saving/tifftags.h"

using vips::VImage;

namespace saving {

namespace {

// The image without an ICC profile larger than the format holds: a JPEG
// counts its profile's segments in one byte, and a larger profile makes a
// file its readers call damaged.
VImage withProfileThatFits(const VImage& image, const formats::Format& format, Warnings& warnings)
{
    std::size_t size = 0;
    const void* data = nullptr;
    if (format.iccLimit == 0 || vips_image_get_typeof(image.get_image(), VIPS_META_ICC_NAME) == 0 ||
        vips_image_get_blob(image.get_image(), VIPS_META_ICC_NAME, &data, &size) != 0 ||
        size <= format.iccLimit)
        return image;
    VImage without = image.copy();
    without.remove(VIPS_META_ICC_NAME);
    warnings.add("its ICC profile (" + std::to_string(size >> 20) + " MiB) is larger than " +
                 std::string(format.title) + " holds, so it was left out");
    return without;
}

} // namespace

Error writeOut(const VImage& mapped, const formats::Format& format, Encoding encoding,
               const Travelling& travelling, fileio::OutputFile& output, Warnings& warnings)
{
    using metadata::Writer;
    const metadata::Carried& carried = travelling.carried;
    const metadata::Route& route = travelling.route;
    const VImage ready = withProfileThatFits(handedOver(mapped, travelling), format, warnings);
    encoding.exifCarried = carried.hasExif() && route.writer != Writer::JpegHeader &&
                           route.writer != Writer::Exiv2Rewrite;
    // libvips's copy of the input's EXIF stays where it is what goes; one
    // its savers make up goes.
    const bool keepFileExif = travelling.libvipsExif;
    // A JPEG's header is rewritten before any of it is written.
    HeaderRewrite rewrite;
    if (route.writer == Writer::JpegHeader)
        rewrite = [&carried, &warnings, keepFileExif](std::string& header) {
            if (const Error error = carried.intoJpegHeader(header, keepFileExif))
                warnings.add("rendered, but " + error.reason() +
                             "; it carries what libvips writes of it");
        };
    if (Error error = save(ready, format, encoding, output, warnings, rewrite))
        return error;
    if (route.writer == Writer::TiffTags)
        return writeTiffTags(output, tiffTagsOf(travelling));
    if (route.writer != Writer::Exiv2Rewrite || (carried.empty() && !format.exifNeedsRewrite))
        return {};
    bool changed = false;
    Error error = carried.rewrite(output.descriptor(), output.shownName(), keepFileExif, changed);
    // A file Exiv2 never touched is whole, if without the rewrite, unless
    // what libvips wrote is what readers refuse.
    if (!error || changed || format.exifNeedsRewrite)
        return error;
    warnings.add("rendered, but " + error.reason() + "; it carries what libvips writes of it");
    return {};
}

} // namespace saving
