#include "vipsio/render.h"

#include "fileio/outputfile.h"
#include "netpbm/moreimages.h"
#include "netpbm/netpbm.h"
#include "vipsio/embeddedphoto.h"
#include "vipsio/load.h"
#include "vipsio/mapimage.h"
#include "vipsio/save.h"
#include "vipsio/standardinput.h"

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

// Maps a loaded image and writes it. `moreImages`, when given, says before
// the output is committed whether the input held more than the image loaded.
Error mapAndSave(const Loaded& loaded, std::string_view magic, const ImageJob& job,
                 const std::function<bool()>& moreImages = {})
{
    if (loaded.error)
        return loaded.error;
    if (Error refusal = sizeRefusal(loaded.image, job.maxPixels))
        return refusal;
    if (Error refusal = unmappableSamples(loaded.image))
        return refusal;
    const auto format =
        job.format ? job.format : formats::ofLoader(loaded.loader, magic, job.allowUntrusted);
    if (!format)
        return Error("this program cannot write the input's format (" + loaded.loader +
                     "); choose one with -f");
    const VImage mapped = mapImage(loaded.image, job.a, job.branch);
    OutputFile output;
    if (Error error = output.open(job.output, job.overwrite))
        return error;
    if (Error error = save(mapped, *format, job.encoding, output))
        return error;
    if (moreImages && moreImages())
        return Error(severalImages);
    return output.commit();
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
    return guarded([&] {
        return mapAndSave(load(path), magic, job,
                          [fd, magic] { return netpbm::isBinary(magic) && moreImagesInFile(fd); });
    });
}

Error renderStandardInput(std::string_view start, const ImageJob& job)
{
    return guarded([&] {
        StandardInputSource input(start);
        return mapAndSave(load(input.source()), start, job, [&input, start] {
            return netpbm::isBinary(start.substr(0, 2)) && input.moreImages();
        });
    });
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
