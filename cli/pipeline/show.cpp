// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeline/show.h"

#include "pipeline/guarded.h"

#include "fileio/outputfile.h"
#include "loading/embeddedphoto.h"
#include "loading/load.h"
#include "mapping/mapimage.h"
#include "saving/carry.h"
#include "saving/encoding.h"
#include "saving/writeout.h"

#include <vips/vips8>

using vips::VImage;

namespace pipeline {

namespace {

// An animation's frames, each mapped on the branch the show has at the
// time it starts, with the animation's own timing.
Outcome animationShow(int fd, std::string_view start, const ImageJob& job,
                      const transform::PassSchedule& schedule)
{
    const loading::LoadSettings settings{loading::Strictness::Warnings, true,
                                         job.options.allowUntrusted};
    const loading::Loaded loaded = load(fd, start, settings);
    if (loaded.error)
        return Outcome::failed(loaded.error);
    const VImage& frames = loaded.image;
    const int pages = pagesOf(loaded);
    const int pageHeight = frames.height() / pages;
    const std::uint64_t bytes = std::uint64_t(frames.width()) * std::uint64_t(frames.height()) *
                                std::uint64_t(frames.bands()) * 2;
    const std::uint64_t share = job.options.maxMemory / std::uint64_t(job.memorySharers);
    if (share != 0 && bytes > share)
        return Outcome::failed(Error("its frames need more than --max-memory allows a job"));
    std::vector<int> delays(std::size_t(pages), 100);
    if (frames.get_typeof("delay") != 0)
        delays = frames.get_array_int("delay");
    if (delays.size() != std::size_t(pages))
        return Outcome::failed(Error("its frames and their times do not agree"));
    const VImage whole = frames.copy_memory();
    transform::ShownBranches shown(schedule);
    std::vector<VImage> mapped;
    std::int64_t at = 0;
    for (int page = 0; page < pages; ++page) {
        const VImage frame = whole.crop(0, page * pageHeight, whole.width(), pageHeight);
        mapped.push_back(mapping::mapImage(frame, job.options.a, shown.at(at)));
        at += std::max(delays[std::size_t(page)], 0);
    }
    VImage show = VImage::arrayjoin(mapped, VImage::option()->set("across", 1));
    show.set("page-height", pageHeight);
    show.set("delay", delays);
    show.set("loop", frames.get_typeof("loop") != 0 ? frames.get_int("loop") : 0);
    Warnings warnings;
    if (Error error = writeOut(show, *job.format, saving::encodingOf(job.options),
                               saving::Travelling{}, *job.written, warnings))
        return Outcome::failed(error);
    if (Error error = job.written->commit())
        return Outcome::failed(error);
    return warnings.outcome();
}

// The picture, decoded once into memory: every pass maps it again.
Error decoded(int fd, std::string_view start, const ImageJob& job, VImage& picture)
{
    if (fd < 0) {
        const auto photograph = loading::embeddedPhotograph();
        if (!photograph)
            return Error("the embedded photograph is damaged");
        picture = photograph->copy_memory();
        return {};
    }
    const loading::LoadSettings settings{loading::Strictness::Warnings, false,
                                         job.options.allowUntrusted};
    loading::Loaded loaded = load(fd, start, settings);
    if (loaded.error)
        return loaded.error;
    if (Error refusal = loading::sizeRefusal(loaded.image, job.options.maxPixels))
        return refusal;
    if (Error refusal = mapping::unmappableSamples(loaded.image))
        return refusal;
    if (pagesOf(loaded) > 1)
        return Error("a show is made from one picture; this file holds several");
    picture = loaded.image.copy_memory();
    return {};
}

} // namespace

Outcome renderShow(int fd, std::string_view start, const ImageJob& job,
                   const transform::PassSchedule& schedule, int passes)
{
    return guarded([&] {
        if (!job.format || !job.format->keepsPages || job.format->keepsPagesOfAnySize)
            return Outcome::failed(Error("a show is written as an animation (-f gif or -f webp) "
                                         "or a film (.mp4, .mov, .mkv, .webm)"));
        // An animation gets a new branch every pass of its own time.
        if (fd >= 0) {
            const loading::LoadSettings settings{loading::Strictness::Warnings, false,
                                                 job.options.allowUntrusted};
            if (const loading::Loaded first = load(fd, start, settings);
                !first.error && pagesOf(first) > 1)
                return animationShow(fd, start, job, schedule);
        }
        VImage picture;
        if (Error error = decoded(fd, start, job, picture))
            return Outcome::failed(error);
        std::vector<VImage> pages;
        pages.reserve(std::size_t(passes));
        for (int pass = 0; pass < passes; ++pass)
            pages.push_back(mapping::mapImage(picture, job.options.a, schedule.ofPass(pass)));
        VImage show = VImage::arrayjoin(pages, VImage::option()->set("across", 1));
        show.set("page-height", picture.height());
        show.set("delay",
                 std::vector<int>(std::size_t(passes), transform::PassSchedule::paceMilliseconds));
        show.set("loop", 0);
        Warnings warnings;
        fileio::OutputFile& output = *job.written;
        if (Error error = writeOut(show, *job.format, saving::encodingOf(job.options),
                                   saving::Travelling{}, output, warnings))
            return Outcome::failed(error);
        if (Error error = output.commit())
            return Outcome::failed(error);
        return warnings.outcome();
    });
}

Error decodeRgb(int fd, std::string_view start, const ImageJob& job, RgbPicture& picture)
{
    return guarded([&]() -> Error {
        VImage image;
        if (Error error = decoded(fd, start, job, image))
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
    });
}

} // namespace pipeline
