#include "vipsio/show.h"

#include "fileio/outputfile.h"
#include "vipsio/embeddedphoto.h"
#include "vipsio/encoding.h"
#include "vipsio/load.h"
#include "vipsio/mapimage.h"
#include "vipsio/writeout.h"

#include <vips/vips8>

using vips::VImage;

namespace vipsio {

namespace {

// The picture, decoded once into memory: every pass maps it again.
Error decoded(int fd, const ImageJob& job, VImage& picture)
{
    if (fd < 0) {
        const auto photograph = embeddedPhotograph();
        if (!photograph)
            return Error("the embedded photograph is damaged");
        picture = photograph->copy_memory();
        return {};
    }
    const std::string start = startOf(fd);
    const LoadSettings settings{Strictness::Warnings, false, job.options.allowUntrusted};
    Loaded loaded = load(fd, start, settings);
    if (loaded.error)
        return loaded.error;
    if (Error refusal = sizeRefusal(loaded.image, job.options.maxPixels))
        return refusal;
    if (Error refusal = unmappableSamples(loaded.image))
        return refusal;
    if (pagesOf(loaded) > 1)
        return Error("a show is made from one picture; this file holds several");
    picture = loaded.image.copy_memory();
    return {};
}

template <typename Render> Outcome guarded(const Render& render)
{
    try {
        return render();
    } catch (const vips::VError& error) {
        std::string text = error.what();
        return Outcome::failed(Error(text.substr(0, text.find('\n')), Error::Cause::Libvips));
    }
}

} // namespace

Outcome renderShow(int fd, const ImageJob& job, const transform::PassSchedule& schedule, int passes)
{
    return guarded([&] {
        if (!job.format || !job.format->keepsPages || job.format->keepsPagesOfAnySize)
            return Outcome::failed(Error("a show is written as an animation (-f gif or -f webp) "
                                         "or a film (.mp4, .mov, .mkv, .webm)"));
        VImage picture;
        if (Error error = decoded(fd, job, picture))
            return Outcome::failed(error);
        std::vector<VImage> pages;
        pages.reserve(std::size_t(passes));
        for (int pass = 0; pass < passes; ++pass)
            pages.push_back(mapImage(picture, job.options.a, schedule.ofPass(pass)));
        VImage show = VImage::arrayjoin(pages, VImage::option()->set("across", 1));
        show.set("page-height", picture.height());
        show.set("delay",
                 std::vector<int>(std::size_t(passes), transform::PassSchedule::paceMilliseconds));
        show.set("loop", 0);
        Warnings warnings;
        fileio::OutputFile& output = *job.written;
        if (Error error = writeOut(show, passes, *job.format, encodingOf(job.options),
                                   metadata::Carried(), output, warnings))
            return Outcome::failed(error);
        if (Error error = output.commit())
            return Outcome::failed(error);
        return warnings.outcome();
    });
}

Error decodeRgb(int fd, const ImageJob& job, RgbPicture& picture)
{
    try {
        VImage image;
        if (Error error = decoded(fd, job, image))
            return error;
        if (image.interpretation() != VIPS_INTERPRETATION_sRGB ||
            image.format() != VIPS_FORMAT_UCHAR)
            image = image.colourspace(VIPS_INTERPRETATION_sRGB).cast(VIPS_FORMAT_UCHAR);
        if (image.has_alpha())
            image = image.flatten();
        if (image.bands() == 1)
            image = image.bandjoin({image, image});
        image = image.extract_band(0, VImage::option()->set("n", 3)).copy_memory();
        std::size_t size = 0;
        const void* pixels = image.write_to_memory(&size);
        const auto* bytes = static_cast<const std::uint8_t*>(pixels);
        picture.rgb.assign(bytes, bytes + size);
        g_free(const_cast<void*>(pixels));
        picture.width = image.width();
        picture.height = image.height();
        return {};
    } catch (const vips::VError& error) {
        std::string text = error.what();
        return Error(text.substr(0, text.find('\n')), Error::Cause::Libvips);
    }
}

} // namespace vipsio
