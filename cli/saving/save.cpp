// SPDX-License-Identifier: GPL-3.0-or-later
#include "saving/save.h"

#include "fileio/outputfile.h"
#include "metadata/containers.h"
#include "saving/carry.h"
#include "saving/pngsave.h"
#include "saving/thumbnail.h"

#include <optional>
#include <string_view>

using vips::VImage;
using vips::VOption;

namespace saving {

namespace {

// The most of a JPEG's header held in memory for its rewrite: ICC profiles
// and XMP fill several segments of 64 KiB at most.
constexpr std::size_t maxJpegHeader = std::size_t(16) << 20;

// The output's side of a libvips target. Writes go to the output file, and
// the error of a failed write is kept, so that a write error is known from
// the write itself. Files can also be read back and sought in, as libtiff
// does to fill in its directories. A JPEG's header, when it is to be
// rewritten, is held until it is whole.
struct TargetSink {
    fileio::OutputFile* output;
    Error error;
    const HeaderRewrite* rewrite = nullptr;
    std::string header;

    Error put(const char* data, std::size_t size)
    {
        if (!rewrite)
            return output->write(data, size);
        header.append(data, size);
        const auto end = metadata::jpegHeaderEnd(header);
        if (!end)
            return header.size() > maxJpegHeader
                       ? Error("cannot write the metadata: the JPEG header passes 16 MiB")
                       : Error();
        if (*end == std::string_view::npos)
            return Error("cannot write the metadata: libvips wrote no JPEG header");
        std::string head = header.substr(0, *end);
        (*rewrite)(head);
        rewrite = nullptr;
        if (Error failed = output->write(head.data(), head.size()))
            return failed;
        Error failed = output->write(header.data() + *end, header.size() - *end);
        header = std::string();
        return failed;
    }

    static gint64 write(VipsTargetCustom*, const void* data, gint64 length, TargetSink* sink)
    {
        if (!sink->error)
            sink->error = sink->put(static_cast<const char*>(data), std::size_t(length));
        return sink->error ? -1 : length;
    }
    static gint64 read(VipsTargetCustom*, void* data, gint64 length, TargetSink* sink)
    {
        return sink->output->readBack(static_cast<char*>(data), std::size_t(length));
    }
    static gint64 seek(VipsTargetCustom*, gint64 offset, int whence, TargetSink* sink)
    {
        return sink->output->seek(offset, whence);
    }
};

// libvips's saver knows the compressions by the table's names.
VipsForeignTiffCompression tiffCompression(const std::string& name)
{
    const int value =
        vips_enum_from_nick(nullptr, VIPS_TYPE_FOREIGN_TIFF_COMPRESSION, name.c_str());
    return value < 0 ? VIPS_FOREIGN_TIFF_COMPRESSION_NONE : VipsForeignTiffCompression(value);
}

// What identifies a picture or its maker: every metadata item but the ICC
// profile (unless asked) and Orientation, which keeps the picture upright.
bool identifies(const std::string& field, bool stripIcc)
{
    if (field == VIPS_META_ICC_NAME)
        return stripIcc;
    // EXIF and its thumbnail, and what libvips's loader of last resort keeps.
    for (const char* prefix : {"exif-", "magick-"})
        if (field.starts_with(prefix))
            return true;
    for (const char* name : {VIPS_META_XMP_NAME, VIPS_META_IPTC_NAME, VIPS_META_PHOTOSHOP_NAME,
                             VIPS_META_IMAGEDESCRIPTION, "jpeg-thumbnail-data"})
        if (field == name)
            return true;
    for (const formats::Format& format : formats::all())
        for (const std::string_view described : format.describingFields)
            if (described.ends_with('-') ? field.starts_with(described) : field == described)
                return true;
    return false;
}

// The image without what --strip drops. libvips's own strip drops the ICC
// profile and Orientation too, and some savers (WebP) ignore it.
VImage withoutIdentity(const VImage& image, const Encoding& encoding)
{
    if (!encoding.strip && !encoding.stripIcc)
        return image;
    VImage stripped = image.copy();
    gchar** fields = vips_image_get_fields(stripped.get_image());
    for (gchar** field = fields; *field; ++field)
        // What EXIF goes under --strip is the carried block, Orientation alone.
        if (encoding.strip
                ? identifies(*field, encoding.stripIcc) &&
                      !(encoding.exifCarried && std::string(*field) == VIPS_META_EXIF_NAME)
                : std::string(*field) == VIPS_META_ICC_NAME)
            stripped.remove(*field);
    g_strfreev(fields);
    return stripped;
}

VImage saveable(const VImage& image, const formats::Format& format);

// The image as the output gets it: no stale thumbnail, no identity if asked,
// samples in the output's range.
// libvips's JPEG loader keeps IPTC as the whole Photoshop segment, which its
// TIFF saver writes where readers expect IPTC records alone, and which they
// then call damaged: a TIFF goes without it (Exiv2 writes IPTC properly,
// whenever it carries the metadata).
VImage withoutPhotoshopSegment(const VImage& image, const formats::Format& format)
{
    const void* data = nullptr;
    std::size_t size = 0;
    if (!format.iptcRecordsOnly ||
        vips_image_get_typeof(image.get_image(), VIPS_META_IPTC_NAME) == 0 ||
        vips_image_get_blob(image.get_image(), VIPS_META_IPTC_NAME, &data, &size) != 0 ||
        !std::string_view(static_cast<const char*>(data), size).starts_with("Photoshop 3.0"))
        return image;
    VImage without = image.copy();
    without.remove(VIPS_META_IPTC_NAME);
    return without;
}

VImage prepared(const VImage& image, const formats::Format& format, const Encoding& encoding)
{
    const VImage stripped = withoutPhotoshopSegment(
        withoutIdentity(encoding.exifCarried ? image : withoutExifThumbnail(image), encoding),
        format);
    return saveable(stripped, format);
}

// What a row's variant tells its saver to write: the value, by its
// nickname, of the enumeration the saver's option takes.
void setVariant(VOption* saving, const formats::Format& format)
{
    if (format.variantOption.empty())
        return;
    const std::string saver(format.saver);
    const std::string option(format.variantOption);
    const GType type = vips_type_find("VipsOperation", saver.c_str());
    auto* saverClass = type ? static_cast<GObjectClass*>(g_type_class_ref(type)) : nullptr;
    const GParamSpec* property =
        saverClass ? g_object_class_find_property(saverClass, option.c_str()) : nullptr;
    const int value = property && G_TYPE_IS_ENUM(property->value_type)
                          ? vips_enum_from_nick(nullptr, property->value_type,
                                                std::string(format.variant).c_str())
                          : -1;
    if (saverClass)
        g_type_class_unref(saverClass);
    if (value >= 0)
        saving->set(option.c_str(), value);
}

VOption* saveOptions(const formats::Format& format, const Encoding& encoding)
{
    // What --strip drops is removed from the image itself (see withoutIdentity).
    VOption* saving = VImage::option()->set("strip", false);
    if (encoding.lossless && format.losslessChoice)
        saving->set("lossless", true);
    if (format.keptCoding == formats::KeptCoding::Compression)
        saving->set("compression", tiffCompression(encoding.tiffCompression));
    // Under -Q keep, a JPEG from a JPEG is coded as its input was.
    const bool kept = format.keptCoding == formats::KeptCoding::Quality && encoding.jpegQuality;
    const int quality =
        kept ? *encoding.jpegQuality : encoding.quality.value_or(format.defaultQuality);
    if (format.lossy)
        saving->set("Q", quality);
    if (format.subsamplesBelow90)
        saving->set("subsample_mode", kept
                                          ? (encoding.jpegChromaHalved ? VIPS_FOREIGN_SUBSAMPLE_ON
                                                                       : VIPS_FOREIGN_SUBSAMPLE_OFF)
                                      : quality >= 90 ? VIPS_FOREIGN_SUBSAMPLE_OFF
                                                      : VIPS_FOREIGN_SUBSAMPLE_AUTO);
    if (format.deflateLevel) {
        saving->set("compression", encoding.compression.value_or(6));
        if (encoding.pngFilters)
            saving->set("filter", VIPS_FOREIGN_PNG_FILTER_ALL);
    }
    setVariant(saving, format);
    return saving;
}

// Float samples hold 0..1; a format with integer samples gets them scaled to
// its range instead of cut to 0 and 1.
VImage saveable(const VImage& image, const formats::Format& format)
{
    const bool floating =
        image.format() == VIPS_FORMAT_FLOAT || image.format() == VIPS_FORMAT_DOUBLE;
    if (!floating && format.samples == formats::Samples::FloatOnly) {
        // PFM holds 0..1 too: integer samples are scaled down to it.
        const double top = image.format() == VIPS_FORMAT_USHORT ? 65535.0 : 255.0;
        const int colourBands = image.bands() - (image.has_alpha() ? 1 : 0);
        return image.cast(VIPS_FORMAT_FLOAT)
            .linear(1.0 / top, 0.0)
            .copy(VImage::option()->set("interpretation", colourBands == 1
                                                              ? VIPS_INTERPRETATION_B_W
                                                              : VIPS_INTERPRETATION_sRGB));
    }
    if (!floating || format.samples == formats::Samples::Float ||
        format.samples == formats::Samples::FloatOnly)
        return image;
    const bool deep = format.samples == formats::Samples::Deep;
    const double top = deep ? 65535.0 : 255.0;
    const int colourBands = image.bands() - (image.has_alpha() ? 1 : 0);
    const auto interpretation = colourBands == 1
                                    ? (deep ? VIPS_INTERPRETATION_GREY16 : VIPS_INTERPRETATION_B_W)
                                    : (deep ? VIPS_INTERPRETATION_RGB16 : VIPS_INTERPRETATION_sRGB);
    return image.linear(top, 0.0)
        .round(VIPS_OPERATION_ROUND_RINT)
        .cast(deep ? VIPS_FORMAT_USHORT : VIPS_FORMAT_UCHAR)
        .copy(VImage::option()->set("interpretation", interpretation));
}

} // namespace

void save(const VImage& image, const formats::Format& format, const Encoding& encoding,
          const vips::VTarget& target)
{
    const std::string saver(format.saver);
    VImage::call(saver.c_str(), saveOptions(format, encoding)
                                    ->set("in", prepared(image, format, encoding))
                                    ->set("target", target));
}

Error save(const VImage& image, const formats::Format& format, const Encoding& encoding,
           fileio::OutputFile& output, Warnings& warnings, const HeaderRewrite& rewriteJpegHeader)
{
    if (format.metadata == formats::MetadataRoute::PngChunks)
        if (const VImage ready = prepared(image, format, encoding); ownPngEncoderTakes(ready))
            return savePng(ready, encoding, output, warnings);
    TargetSink sink{&output, {}, nullptr, {}};
    if (rewriteJpegHeader && format.metadata == formats::MetadataRoute::JpegHeader)
        sink.rewrite = &rewriteJpegHeader;
    VipsTargetCustom* custom = vips_target_custom_new();
    g_signal_connect(custom, "write", G_CALLBACK(TargetSink::write), &sink);
    g_signal_connect(custom, "read", G_CALLBACK(TargetSink::read), &sink);
    g_signal_connect(custom, "seek", G_CALLBACK(TargetSink::seek), &sink);
    try {
        save(image, format, encoding, vips::VTarget(VIPS_TARGET(custom)));
    } catch (const vips::VError&) {
        // Once the output failed, what libvips says after is only its consequence.
        if (!sink.error)
            throw;
    }
    if (!sink.error && sink.rewrite)
        return Error("cannot write the metadata: libvips wrote no whole JPEG header");
    return sink.error;
}

} // namespace saving
