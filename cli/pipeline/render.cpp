// SPDX-License-Identifier: GPL-3.0-or-later
#include "pipeline/render.h"

#include "fileio/outputfile.h"
#include "loading/availability.h"
#include "loading/embeddedphoto.h"
#include "loading/jpegscan.h"
#include "loading/judge.h"
#include "loading/load.h"
#include "loading/memoryestimate.h"
#include "mapping/mapimage.h"
#include "mapping/sheet.h"
#include "netpbm/moreimages.h"
#include "netpbm/netpbm.h"
#include "pipeline/guarded.h"
#include "pipeline/pagesapart.h"
#include "saving/carry.h"
#include "saving/inputcoding.h"
#include "saving/writeout.h"

#include <unistd.h>
#include <vector>

using vips::VImage;

namespace pipeline {

namespace {

// Why the image cannot be rendered as asked, before any of it is decoded.
Error refusalOf(const loading::Loaded& loaded, const formats::Format& format, const ImageJob& job)
{
    if (Error refusal = loading::sizeRefusal(loaded.image, job.options.maxPixels))
        return refusal;
    if (Error refusal = memoryRefusal(loaded, job.options.maxMemory, job.memorySharers))
        return refusal;
    if (Error refusal = mapping::unmappableSamples(loaded.image))
        return refusal;
    if (const int pages = pagesOf(loaded);
        pages > 1 && !format.keepsPages && job.options.sheet.empty())
        return Error("the file holds " + std::to_string(pages) + " pages or frames, which only a " +
                     formats::keepingPages(false) + " output keeps all of (" +
                     formats::keepingPages(true) + ")");
    return {};
}

// Whether the picture is turned upright before it is written: as asked
// (--autorotate), or where viewers of the format follow the file's own
// transforms and ignore EXIF Orientation, so that a sideways-stored
// photograph would show sideways. A file of several pages keeps its own.
bool turnsUpright(const loading::Loaded& loaded, const formats::Format& format, const ImageJob& job)
{
    return (format.turnsUpright || job.options.autorotate) && pagesOf(loaded) == 1 &&
           !(loaded.read && loaded.read->decodesUpright) &&
           vips_image_get_orientation(loaded.image.get_image()) > 1;
}

// Whether a Netpbm file holds anything after its first image.
bool moreImagesInFile(int fd)
{
    netpbm::MoreImagesWatch watch;
    std::vector<char> block(std::size_t(64) * 1024);
    for (;;) {
        // The first image's pixels need not be read: only what follows them.
        if (const auto end = watch.firstImageEnd(); end && watch.passed() < *end)
            watch.skipTo(*end);
        const ssize_t n = ::pread(fd, block.data(), block.size(), off_t(watch.passed()));
        if (n <= 0 || watch.done())
            return watch.seen();
        watch.see(block.data(), std::size_t(n));
    }
}

// Writes the contact sheet of a loaded image (of its first page).
Outcome writeSheet(const loading::Loaded& loaded, const formats::Format& format,
                   const ImageJob& job)
{
    const VImage sheet = mapping::contactSheet(loaded.image, job.options.sheet);
    fileio::OutputFile& output = *job.written;
    Warnings warnings;
    const saving::Travelling nothing =
        saving::travellingFor(-1, loaded, format, 1, false, true, false, warnings);
    if (Error error =
            writeOut(sheet, format, saving::encodingOf(job.options), nothing, output, warnings))
        return Outcome::failed(error);
    if (Error error = output.commit())
        return Outcome::failed(error);
    return warnings.outcome();
}

// Maps a loaded image and writes it, once; `fd` is its input (-1 for the
// embedded photograph). The output is committed last, when every check
// that could fail the file has passed.
Outcome mapAndWrite(const loading::Loaded& loaded, int fd, std::string_view start,
                    const ImageJob& job)
{
    const formats::Format* format =
        job.format ? job.format : loading::writable(loaded.read, job.options.allowUntrusted);
    if (!format)
        return Outcome::failed(Error("this program cannot write the input's format (" +
                                     loaded.loader + "); choose one with -f"));
    if (Error refusal = refusalOf(loaded, *format, job))
        return Outcome::failed(refusal);
    if (!job.options.sheet.empty())
        return writeSheet(loaded, *format, job);
    // Lazily: the pixels are decoded, mapped and encoded together, as the
    // output is written.
    VImage mapped = mapping::mapImage(loaded.image, job.options.a, job.branch);
    Warnings warnings;
    saving::Encoding encoding = saving::encodingOf(job.options);
    keepInputCoding(fd, loaded.read, encoding);
    const bool upright =
        (loaded.read && loaded.read->decodesUpright) || turnsUpright(loaded, *format, job);
    const saving::Travelling travelling = saving::travellingFor(
        fd, loaded, *format, pagesOf(loaded), job.options.strip, false, upright, warnings);
    const metadata::Carried& carried = travelling.carried;
    // Loaders that read no resolution (HEIF, WebP) leave libvips's one
    // pixel a millimetre; the input's EXIF tells the real one.
    if (const auto resolution = carried.resolution();
        resolution && mapped.xres() == 1.0 && mapped.yres() == 1.0)
        mapped = mapped.copy(
            VImage::option()->set("xres", resolution->first)->set("yres", resolution->second));
    // Turning needs the whole picture, as the encoders that ask for it hold anyway.
    if (turnsUpright(loaded, *format, job))
        mapped = mapped.copy_memory().autorot();
    fileio::OutputFile& output = *job.written;
    if (Error error = writeOut(mapped, *format, encoding, travelling, output, warnings))
        return Outcome::failed(error);
    if (netpbm::isBinary(start.substr(0, 2)) && fd >= 0 && moreImagesInFile(fd))
        return Outcome::failed(Error(
            "the stream holds more than one image; only a Netpbm output (-f ppm) keeps them all"));
    if (loaded.read && loaded.read->warnsOfDamage)
        if (Error what = loading::judgeDecoderWarnings(fd, job.options.salvage, warnings))
            return Outcome::failed(
                loading::damaged(what.reason(), fd, start, job.options.allowUntrusted));
    if (Error error = output.commit())
        return Outcome::failed(error);
    return warnings.outcome();
}

// How strictly a file is loaded: a decoder whose warnings are judged once
// it has run stops only at a file cut short (or nothing, to salvage what
// can be read); any other stops at its first warning.
loading::Strictness strictnessFor(const formats::Format* read, bool salvage)
{
    if (!read || !read->warnsOfDamage)
        return loading::Strictness::Warnings;
    return salvage ? loading::Strictness::Nothing : loading::Strictness::Truncation;
}

} // namespace

Outcome renderFile(int fd, std::string_view start, const ImageJob& job)
{
    return guarded([&] {
        const command::Options& options = job.options;
        const formats::Format* read = formats::byMagic(start);
        if (formats::isRaw({}, start) ||
            (read && read->mayHoldRaw && metadata::holdsRawSensorData(fd)))
            return Outcome::failed(Error("a raw file; develop it first"));
        loading::LoadSettings settings{strictnessFor(read, options.salvage), false,
                                       options.allowUntrusted};
        loading::Loaded loaded = load(fd, start, settings);
        if (loaded.error)
            return Outcome::failed(loaded.error);
        // The loader read the header: every page is loaded where the output
        // keeps them, page by page where they differ in size.
        const formats::Format* format = job.format ? job.format : loaded.read;
        if (const int pages = pagesOf(loaded);
            pages > 1 && format && format->keepsPages && options.sheet.empty()) {
            settings.allPages = true;
            try {
                loaded = load(fd, start, settings);
            } catch (const vips::VError& error) {
                if (std::string(error.what()).find("differs from page") == std::string::npos)
                    throw;
                if (!format->keepsPagesOfAnySize)
                    return Outcome::failed(Error(
                        "its pages differ in size, which only a TIFF output keeps (-f tiff)"));
                vips_error_clear();
                return renderPagesApart(fd, start, pages, *format, job, loaded);
            }
        }
        // A file cut short or corrupt past what the decoder goes on after
        // fails as the decoder says, offering --salvage where it keeps something.
        try {
            return mapAndWrite(loaded, fd, start, job);
        } catch (const vips::VError& error) {
            const std::string what = libvipsError(error).reason();
            if (!loaded.read || !loaded.read->warnsOfDamage || options.salvage ||
                !loading::losesData(what))
                throw;
            vips_error_clear();
            return Outcome::failed(loading::damaged(what, fd, start, options.allowUntrusted));
        }
    });
}

Outcome renderEmbeddedPhotograph(const ImageJob& job)
{
    return guarded([&] {
        const auto photograph = loading::embeddedPhotograph();
        if (!photograph)
            return Outcome::failed(Error("the embedded photograph is damaged"));
        return mapAndWrite({*photograph, {}, nullptr, {}}, -1, {}, job);
    });
}

} // namespace pipeline
