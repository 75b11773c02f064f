#include "vipsio/render.h"

#include "fileio/outputfile.h"
#include "netpbm/moreimages.h"
#include "netpbm/netpbm.h"
#include "vipsio/carry.h"
#include "vipsio/embeddedphoto.h"
#include "vipsio/inputcoding.h"
#include "vipsio/load.h"
#include "vipsio/mapimage.h"
#include "vipsio/memoryestimate.h"
#include "vipsio/save.h"

#include <functional>
#include <unistd.h>
#include <vector>

using vips::VImage;

namespace vipsio {

namespace {

const char* const severalImages =
    "the stream holds more than one image; only a Netpbm output (-f ppm) keeps them all";

// libvips reports the cause first and its consequences (the encoder that
// then had nothing to write) after it; a job's failure is one line.
Error libvipsError(const vips::VError& error)
{
    std::string text = error.what();
    text = text.substr(0, text.find('\n'));
    if (text.ends_with("operation is blocked"))
        text += " (libvips marks this loader untrusted; --allow-untrusted permits it)";
    if (text.empty())
        text = "cannot decode or encode it (libvips gave no reason)";
    return Error(text, Error::Source::Libvips);
}

bool keepsPages(const formats::OutputFormat& format)
{
    return format.name == "tiff" || format.name == "gif" || format.name == "webp";
}

// Why the image cannot be rendered as asked, before any of it is decoded.
Error refusalOf(const Loaded& loaded, const formats::OutputFormat& format, const ImageJob& job)
{
    if (Error refusal = sizeRefusal(loaded.image, job.maxPixels))
        return refusal;
    if (Error refusal = memoryRefusal(loaded.image, loaded.loader, job.maxMemory))
        return refusal;
    if (Error refusal = unmappableSamples(loaded.image))
        return refusal;
    if (const int pages = pagesOf(loaded.image, loaded.loader); pages > 1 && !keepsPages(format))
        return Error("the file holds " + std::to_string(pages) +
                     " pages or frames, which only a TIFF, GIF or WebP output keeps all of "
                     "(-f tiff, -f gif or -f webp)");
    return {};
}

// Whether the image holds several pages (every page of its file was loaded).
bool holdsPages(const VImage& image)
{
    return vips_image_get_page_height(image.get_image()) < image.height();
}

// Whether the picture is turned upright before it is written: HEIF and
// AVIF viewers follow the file's own transforms and ignore EXIF Orientation,
// so a sideways-stored photograph would show sideways. (A HEIF input decodes
// upright already.)
bool turnsUpright(const Loaded& loaded, const formats::OutputFormat& format)
{
    return (format.name == "heif" || format.name == "avif") &&
           !loaded.loader.starts_with("heifload") &&
           vips_image_get_orientation(loaded.image.get_image()) > 1;
}

// The metadata Exiv2 is to carry from the input at `path` into the output
// (nothing unless `byExiv2`); an input whose metadata it cannot read leaves
// the reason in `unreadable`.
metadata::Carried carriedFor(const Loaded& loaded, const formats::OutputFormat& format,
                             const ImageJob& job, const std::string& path, bool byExiv2,
                             Error& unreadable)
{
    metadata::Carried carried =
        byExiv2 ? carriedFrom(path, loaded.loader, job.encoding.strip, unreadable)
                : metadata::Carried();
    if (byExiv2 && !job.encoding.strip) {
        // What Exiv2 found no way to read, libvips may have: HEIF's XMP
        // item, an EXIF block in a place Exiv2 does not look.
        if (loaded.loader.starts_with("heifload"))
            carried.adoptXmp(heifXmpOf(loaded.image));
        carried.adoptExif(exifBlockOf(loaded.image));
    }
    // libvips writes WebP's EXIF chunk with JPEG's "Exif" marker in front,
    // which readers refuse: Exiv2 writes that EXIF instead (under --strip,
    // Orientation alone).
    if (byExiv2 && format.name == "webp" && !holdsPages(loaded.image))
        carried.adoptExif(
            job.encoding.strip
                ? metadata::orientationBlock(vips_image_get_orientation(loaded.image.get_image()))
                : exifBlockOf(loaded.image));
    // HEIF's decoder applies the file's own rotation and mirroring, and its
    // EXIF Orientation is no instruction: the pixels come out upright.
    if (loaded.loader.starts_with("heifload") || turnsUpright(loaded, format))
        carried.setOrientation(1);
    return carried;
}

// Writes the mapped image to `output`, with `carried` written by Exiv2 when
// `exiv2Writes`: into a JPEG's header as the file streams out, into the
// other formats once libvips has written them (a pipe's in a spool first).
// Where Exiv2 fails to write, `exiv2Failed` says so.
Error writeWithMetadata(const VImage& mapped, const formats::OutputFormat& format,
                        const ImageJob& job, const metadata::Carried& carried, bool exiv2Writes,
                        bool* exiv2Failed, OutputFile& output)
{
    const bool intoHeader = exiv2Writes && format.name == "jpeg";
    HeaderRewrite rewrite;
    if (intoHeader)
        rewrite = [&carried, exiv2Failed](std::string& header) {
            Error error = carried.intoJpegHeader(header);
            if (error && exiv2Failed)
                *exiv2Failed = true;
            return error;
        };
    OutputFile spool;
    OutputFile* target = &output;
    if (exiv2Writes && !intoHeader && !output.seekable()) {
        if (Error error = spool.openSpool())
            return error;
        target = &spool;
    }
    if (Error error = save(mapped, format, job.encoding, *target, rewrite))
        return error;
    if (exiv2Writes && !intoHeader)
        if (Error error = carried.writeInto(target->reopenablePath(), output.shownName())) {
            if (exiv2Failed)
                *exiv2Failed = true;
            return error;
        }
    return target == &spool ? spool.copyTo(output) : Error();
}

// Maps a loaded image and writes it. `moreImages`, when given, says before
// the output is committed whether the input held more than the image loaded.
// The input's EXIF, XMP and IPTC (of the file at `path`) travel through
// Exiv2 when `byExiv2`; where Exiv2 fails to write them, `exiv2Failed` says
// so, and the caller renders again with `byExiv2` false: libvips alone
// carries what it reads.
Error mapAndSave(const Loaded& loaded, std::string_view magic, const ImageJob& job,
                 const std::string& path = {}, bool byExiv2 = false, bool* exiv2Failed = nullptr,
                 const std::function<bool()>& moreImages = {})
{
    if (loaded.error)
        return loaded.error;
    const auto format =
        job.format ? job.format : formats::ofLoader(loaded.loader, magic, job.allowUntrusted);
    if (!format)
        return Error("this program cannot write the input's format (" + loaded.loader +
                     "); choose one with -f");
    if (Error refusal = refusalOf(loaded, *format, job))
        return refusal;
    Error unreadable;
    const metadata::Carried carried = carriedFor(loaded, *format, job, path, byExiv2, unreadable);
    // Exiv2 0.27 cannot write HEIF/AVIF, nor more than one page of a TIFF or WebP.
    const bool exiv2Writes =
        !carried.empty() && metadata::writesInto(format->name) && !holdsPages(loaded.image);
    VImage mapped = mapImage(loaded.image, job.a, job.branch);
    // Turning needs the whole picture, as the HEIF/AVIF encoder does anyway.
    if (turnsUpright(loaded, *format))
        mapped = mapped.copy_memory().autorot();
    mapped = handedOver(mapped, carried, format->name, exiv2Writes);
    OutputFile output;
    if (Error error = output.open(job.output, job.overwrite))
        return error;
    if (Error error =
            writeWithMetadata(mapped, *format, job, carried, exiv2Writes, exiv2Failed, output))
        return error;
    if (moreImages && moreImages())
        return Error(severalImages);
    if (Error error = output.commit())
        return error;
    if (unreadable)
        return Error("rendered, but " + unreadable.reason() +
                         "; it carries what libvips reads of it",
                     Error::Source::Warning);
    return {};
}

// Loads a file as strictly as asked, every page when the output keeps them.
Loaded loadFile(const std::string& path, Strictness strictness, const ImageJob& job)
{
    Loaded loaded = load(path, {strictness, false});
    if (!loaded.error && pagesOf(loaded.image, loaded.loader) > 1 && job.format &&
        keepsPages(*job.format))
        loaded = load(path, {strictness, true});
    return loaded;
}

// The JPEG decoder warns of damage that loses picture data (corrupt or cut
// scan data), and of oddities that lose none (padding between segments, a
// damaged colour profile marker, parameters it corrects, newer revisions):
// only the first fail a file. What it reports as an error fails it anyway.
enum class JpegWarning { None, Harmless, LosesData };

JpegWarning jpegWarningIn(const std::string& text)
{
    if (!text.starts_with("VipsJpeg: "))
        return JpegWarning::None;
    for (const char* harmless :
         {"extraneous bytes before marker", "bad ICC marker", "Invalid SOS parameters",
          "JFIF revision", "Adobe color transform", "too many scanlines"})
        if (text.find(harmless) != std::string::npos)
            return JpegWarning::Harmless;
    for (const char* lossy :
         {"Corrupt JPEG data", "Premature end of JPEG file", "Inconsistent progression"})
        if (text.find(lossy) != std::string::npos)
            return JpegWarning::LosesData;
    return JpegWarning::None;
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

template <typename Render> Error guarded(const Render& render)
{
    try {
        return render();
    } catch (const vips::VError& error) {
        return libvipsError(error);
    }
}

} // namespace

Error renderFile(const std::string& path, int fd, std::string_view magic, const ImageJob& job)
{
    const auto renderOnce = [&](Strictness strictness, bool byExiv2, bool* exiv2Failed) {
        return guarded([&] {
            const Loaded loaded = loadFile(path, strictness, job);
            ImageJob kept = job;
            keepInputCoding(path, loaded.loader, kept.encoding);
            return mapAndSave(loaded, magic, kept, path, byExiv2, exiv2Failed, [fd, magic] {
                return netpbm::isBinary(magic) && moreImagesInFile(fd);
            });
        });
    };
    // Metadata that Exiv2 read but cannot write back (damaged in the input)
    // does not cost the rendering: libvips carries what it reads of it.
    const auto renderAs = [&](Strictness strictness) {
        bool exiv2Failed = false;
        Error error = renderOnce(strictness, true, &exiv2Failed);
        if (!exiv2Failed)
            return error;
        if (Error again = renderOnce(strictness, false, nullptr))
            return again;
        return Error("rendered, but " + error.reason() + "; it carries what libvips reads of it",
                     Error::Source::Warning);
    };
    Error error = renderAs(Strictness::Warnings);
    const JpegWarning warning =
        error.fromLibvips() ? jpegWarningIn(error.reason()) : JpegWarning::None;
    if (warning == JpegWarning::None)
        return error;
    if (warning == JpegWarning::Harmless)
        return renderAs(Strictness::Truncation);
    if (!job.salvage)
        return Error("damaged: " + error.reason() + " (--salvage renders what can be read)",
                     Error::Source::Libvips);
    if (Error salvaged = renderAs(Strictness::Nothing))
        return salvaged;
    return Error("damaged (" + error.reason() + "); rendered what could be read",
                 Error::Source::Warning);
}

Error renderEmbeddedPhotograph(const ImageJob& job)
{
    return guarded([&] {
        const auto photograph = embeddedPhotograph();
        if (!photograph)
            return Error("the embedded photograph is damaged");
        return mapAndSave({*photograph, {}, {}}, {}, job);
    });
}

} // namespace vipsio
