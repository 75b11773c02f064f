#include "vipsio/writeout.h"

#include "fileio/outputfile.h"
#include "vipsio/carry.h"
#include "vipsio/save.h"

using vips::VImage;

namespace vipsio {

namespace {

// Whether Exiv2 writes the metadata, into the header or the finished file.
bool exiv2Writes(const formats::Format& format, int pages, const metadata::Carried& carried)
{
    switch (format.metadata) {
    case formats::MetadataRoute::JpegHeader:
        return !carried.empty();
    case formats::MetadataRoute::Exiv2Rewrite:
        // Exiv2 0.27 rewrites one page of a TIFF only.
        return (!carried.empty() || format.exifNeedsRewrite) &&
               (pages == 1 || format.rewritesPages);
    default:
        return false;
    }
}

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

Error writeOut(const VImage& mapped, int pages, const formats::Format& format, Encoding encoding,
               const metadata::Carried& carried, fileio::OutputFile& output, Warnings& warnings)
{
    const bool byExiv2 = exiv2Writes(format, pages, carried);
    const VImage ready = withProfileThatFits(handedOver(mapped, carried, format), format, warnings);
    encoding.exifCarried = carried.hasExif() && libvipsWritesTheMetadata(format);
    // A JPEG's header is rewritten before any of it is written.
    HeaderRewrite rewrite;
    if (byExiv2 && format.metadata == formats::MetadataRoute::JpegHeader)
        rewrite = [&carried, &warnings](std::string& header) {
            if (const Error error = carried.intoJpegHeader(header))
                warnings.add("rendered, but " + error.reason() +
                             "; it carries what libvips writes of it");
        };
    if (Error error = save(ready, format, encoding, output, warnings, rewrite))
        return error;
    if (!byExiv2 || format.metadata != formats::MetadataRoute::Exiv2Rewrite)
        return {};
    if (!format.exifInOneBlock && carried.hasOpaqueMakerNote())
        warnings.add("its maker notes, which Exiv2 cannot read, were left out: moved among a " +
                     std::string(format.title) + "'s tags, they could read wrong");
    bool changed = false;
    Error error = carried.rewrite(output.descriptor(), output.shownName(), changed);
    // A file Exiv2 never touched is whole, if without the rewrite, unless
    // what libvips wrote is what readers refuse.
    if (!error || changed || format.exifNeedsRewrite)
        return error;
    warnings.add("rendered, but " + error.reason() + "; it carries what libvips writes of it");
    return {};
}

} // namespace vipsio
