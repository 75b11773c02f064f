#include "vipspath.h"

#include "outputfile.h"
#include "vipsstart.h"

#include <cerrno>
#include <unistd.h>

using vips::VImage;
using vips::VOption;

namespace vipspath {

namespace {

std::string saveTiff(const VImage& image, const formats::OutputFormat& format,
                     const Options& options, OutputFile& output);

VOption* loadOptions(const std::string& loader)
{
    VOption* options = VImage::option()
                           ->set("access", VIPS_ACCESS_SEQUENTIAL)
                           ->set("fail_on", VIPS_FAIL_ON_TRUNCATED);
    if (loader.starts_with("gifload") || loader.starts_with("webpload"))
        options->set("n", -1);
    return options;
}

void noLoader()
{
    vips_error_clear();
    vips_error("inverse-logistic-render",
               "not an image format this program reads (see --list-formats)");
    throw vips::VError();
}

// The output's side of a libvips target: writes go to the output file, and
// the error of a failed write is kept to name the output in the message.
struct TargetSink {
    OutputFile* output;
    std::string error;

    static gint64 write(VipsTargetCustom*, const void* data, gint64 length, TargetSink* sink)
    {
        if (!sink->error.empty())
            return -1;
        sink->error = sink->output->write(static_cast<const char*>(data), std::size_t(length));
        return sink->error.empty() ? length : -1;
    }
};

VOption* saveOptions(const formats::OutputFormat& format, const Options& options)
{
    VOption* saving = VImage::option()->set("strip", options.strip);
    if (format.lossy)
        saving->set("Q", options.quality);
    if (format.name == "jpeg")
        saving->set("subsample_mode", options.quality >= 90 ? VIPS_FOREIGN_SUBSAMPLE_OFF
                                                            : VIPS_FOREIGN_SUBSAMPLE_AUTO);
    else if (format.name == "png")
        saving->set("compression", options.compression.value_or(6));
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

// A write error seen by libtiff, which reports only that a write failed.
bool writeFailed(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EIO || error == EFBIG || error == EPIPE;
}

std::string saveTiff(const VImage& image, const formats::OutputFormat& format,
                     const Options& options, OutputFile& output)
{
    if (::lseek(output.descriptor(), 0, SEEK_CUR) >= 0) {
        try {
            save(image, format, options, vips::VTarget::new_to_descriptor(output.descriptor()));
        } catch (const vips::VError&) {
            // A failed write names the output, as every other format's does.
            const int error = errno;
            if (!writeFailed(error))
                throw;
            vips_error_clear();
            return output.failure(error);
        }
        return {};
    }
    VipsBlob* blob = nullptr;
    VImage::call("tiffsave_buffer",
                 saveOptions(format, options)->set("in", image)->set("buffer", &blob));
    std::size_t size = 0;
    const void* data = vips_blob_get(blob, &size);
    std::string error = output.write(static_cast<const char*>(data), size);
    vips_area_unref(VIPS_AREA(blob));
    return error;
}

} // namespace

VImage load(const std::string& path, std::string& loader)
{
    vipsstart::ensure();
    const char* found = vips_foreign_find_load(path.c_str());
    if (!found)
        noLoader();
    loader = formats::nicknameOf(found);
    VImage image;
    VImage::call(found, loadOptions(loader)->set("filename", path.c_str())->set("out", &image));
    return image;
}

VImage load(const vips::VSource& source, std::string& loader)
{
    vipsstart::ensure();
    const char* found = vips_foreign_find_load_source(source.get_source());
    if (!found)
        noLoader();
    loader = formats::nicknameOf(found);
    VImage image;
    VImage::call(found, loadOptions(loader)->set("source", source)->set("out", &image));
    return image;
}

std::string sizeRefusal(const VImage& image, std::uint64_t maxPixels)
{
    const std::uint64_t pixels = std::uint64_t(image.width()) * std::uint64_t(image.height());
    if (maxPixels == 0 || pixels <= maxPixels)
        return {};
    return "refused: " + std::to_string(image.width()) + " x " + std::to_string(image.height()) +
           " pixels is more than --max-pixels " + std::to_string(maxPixels);
}

void save(const VImage& image, const formats::OutputFormat& format, const Options& options,
          const vips::VTarget& target)
{
    VImage::call(
        format.saver.c_str(),
        saveOptions(format, options)->set("in", saveable(image, format))->set("target", target));
}

std::string save(const VImage& image, const formats::OutputFormat& format, const Options& options,
                 OutputFile& output)
{
    // libtiff seeks back in what it wrote to fill in its directory: a file
    // takes libvips's own target on the descriptor, which can seek, and a
    // pipe gets the file made in memory. (Reopening the file by name would
    // truncate it, which makes ext4 flush it on close.)
    if (format.name == "tiff")
        return saveTiff(image, format, options, output);
    TargetSink sink{&output, {}};
    VipsTargetCustom* custom = vips_target_custom_new();
    g_signal_connect(custom, "write", G_CALLBACK(TargetSink::write), &sink);
    try {
        save(image, format, options, vips::VTarget(VIPS_TARGET(custom)));
    } catch (const vips::VError&) {
        if (sink.error.empty())
            throw;
        vips_error_clear();
    }
    return sink.error;
}

} // namespace vipspath
