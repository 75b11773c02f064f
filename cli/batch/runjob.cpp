#include "batch/runjob.h"

#include "fileio/descriptors.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "fileio/spool.h"
#include "netpbm/netpbm.h"
#include "vipsio/render.h"

#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace {

vipsio::ImageJob imageJob(const RenderJob& job, const Options& options)
{
    return {options.a,
            job.branch,
            job.format,
            job.output,
            options.overwrite,
            options.maxPixels,
            options.maxMemory,
            options.allowUntrusted,
            options.salvage,
            {options.quality,
             options.compression,
             options.strip,
             options.stripIcc,
             options.lossless,
             options.tiffCompression,
             {}}};
}

// Whether the input is a binary Netpbm stream that stays one.
bool streams(std::string_view magic, const RenderJob& job)
{
    return netpbm::isBinary(magic) && (!job.format || formats::isNetpbm(*job.format));
}

Error renderStream(std::string_view magic, int fd, const RenderJob& job, const Options& options)
{
    OutputFile output;
    if (Error error = output.open(job.output, options.overwrite))
        return error;
    const netpbm::Read read = [fd](char* data, std::size_t size) {
        return readSome(fd, data, size);
    };
    const netpbm::Write write = [&output](const char* data, std::size_t size) {
        return output.write(data, size);
    };
    if (Error error = netpbm::render(magic, read, write, options.a, job.branch, options.maxPixels))
        return error;
    return output.commit();
}

// What an input that cannot be opened again from its start, as loaders do
// with a path, is called in messages; nothing for a regular file.
std::optional<std::string> streamNamed(const RenderJob& job, int fd)
{
    struct stat info {};
    if (job.input.kind == Input::Kind::StandardInput)
        return "standard input";
    // A disk can be read again by its path, as a file can.
    if (::fstat(fd, &info) != 0 || S_ISREG(info.st_mode) || S_ISBLK(info.st_mode))
        return std::nullopt;
    return isPipe(info) ? "the pipe" : "the device";
}

Error renderFrom(int fd, const RenderJob& job, const Options& options)
{
    const std::string magic = readStart(fd, 2);
    if (streams(magic, job))
        return renderStream(magic, fd, job, options);
    if (const auto stream = streamNamed(job, fd)) {
        const SpooledInput spooled(fd, *stream, magic, options.maxMemory);
        if (spooled.error())
            return spooled.error();
        const int copy = spooled.descriptor();
        return vipsio::renderFile("/proc/self/fd/" + std::to_string(copy), copy, magic,
                                  imageJob(job, options));
    }
    return vipsio::renderFile(job.input.path, fd, magic, imageJob(job, options));
}

} // namespace

Error runJob(const RenderJob& job, const Options& options)
{
    if (job.refusal)
        return job.refusal;
    vipsio::forgetErrors();
    switch (job.input.kind) {
    case Input::Kind::EmbeddedPhotograph:
        return vipsio::renderEmbeddedPhotograph(imageJob(job, options));
    case Input::Kind::StandardInput:
        return renderFrom(STDIN_FILENO, job, options);
    case Input::Kind::File:
        break;
    }
    const InputFile input(job.input.path);
    if (input.openError())
        return input.openError();
    return renderFrom(input.descriptor(), job, options);
}
