#include "vipsio/save.h"

#include "fileio/outputfile.h"

using vips::VImage;
using vips::VOption;

namespace vipsio {

namespace {

// The output's side of a libvips target. Writes go to the output file, and
// the error of a failed write is kept, so that a write error is known from
// the write itself. Files can also be read back and sought in, as libtiff
// does to fill in its directories.
struct TargetSink {
    OutputFile* output;
    Error error;

    static gint64 write(VipsTargetCustom*, const void* data, gint64 length, TargetSink* sink)
    {
        if (!sink->error)
            sink->error = sink->output->write(static_cast<const char*>(data), std::size_t(length));
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

VOption* saveOptions(const formats::OutputFormat& format, const Encoding& encoding)
{
    VOption* saving = VImage::option()->set("strip", encoding.strip);
    if (format.lossy)
        saving->set("Q", encoding.quality);
    if (format.name == "jpeg")
        saving->set("subsample_mode", encoding.quality >= 90 ? VIPS_FOREIGN_SUBSAMPLE_OFF
                                                             : VIPS_FOREIGN_SUBSAMPLE_AUTO);
    else if (format.name == "png")
        saving->set("compression", encoding.compression.value_or(6));
    else if (format.name == "avif")
        saving->set("compression", VIPS_FOREIGN_HEIF_COMPRESSION_AV1);
    else if (format.name == "ppm")
        saving->set("format", VIPS_FOREIGN_PPM_FORMAT_PNM);
    else if (format.name == "pgm")
        saving->set("format", VIPS_FOREIGN_PPM_FORMAT_PGM);
    else if (format.name == "pfm")
        saving->set("format", VIPS_FOREIGN_PPM_FORMAT_PFM);
    return saving;
}

// Float samples hold 0..1; a format with integer samples gets them scaled to
// its range instead of cut to 0 and 1.
VImage saveable(const VImage& image, const formats::OutputFormat& format)
{
    const bool floating =
        image.format() == VIPS_FORMAT_FLOAT || image.format() == VIPS_FORMAT_DOUBLE;
    if (!floating && format.name == "pfm") {
        // PFM holds 0..1 too: integer samples are scaled down to it.
        const double top = image.format() == VIPS_FORMAT_USHORT ? 65535.0 : 255.0;
        const int colourBands = image.bands() - (image.has_alpha() ? 1 : 0);
        return image.cast(VIPS_FORMAT_FLOAT)
            .linear(1.0 / top, 0.0)
            .copy(VImage::option()->set("interpretation", colourBands == 1
                                                              ? VIPS_INTERPRETATION_B_W
                                                              : VIPS_INTERPRETATION_sRGB));
    }
    if (!floating || format.name == "tiff" || format.name == "pfm")
        return image;
    const bool deep = format.name == "png" || format.name == "ppm" || format.name == "pgm";
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

// libtiff seeks back in what it wrote to fill in its directory, which a pipe
// cannot do: there the file is made in memory first.
Error saveTiffToStream(const VImage& image, const formats::OutputFormat& format,
                       const Encoding& encoding, OutputFile& output)
{
    VipsBlob* blob = nullptr;
    VImage::call(
        "tiffsave_buffer",
        saveOptions(format, encoding)->set("in", saveable(image, format))->set("buffer", &blob));
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    Error error = output.write(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return error;
}

} // namespace

void save(const VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
          const vips::VTarget& target)
{
    VImage::call(
        format.saver.c_str(),
        saveOptions(format, encoding)->set("in", saveable(image, format))->set("target", target));
}

Error save(const VImage& image, const formats::OutputFormat& format, const Encoding& encoding,
           OutputFile& output)
{
    if (format.name == "tiff" && !output.seekable())
        return saveTiffToStream(image, format, encoding, output);
    TargetSink sink{&output, {}};
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
    return sink.error;
}

} // namespace vipsio
