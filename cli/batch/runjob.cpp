#include "batch/runjob.h"

#include "fileio/descriptors.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "fileio/spool.h"
#include "netpbm/netpbm.h"
#include "vipsio/render.h"
#include "vipsio/start.h"

namespace batch {

namespace {

// Whether the input is a binary Netpbm stream that stays one.
bool streams(std::string_view magic, const RenderJob& job)
{
    return netpbm::isBinary(magic) && (!job.format || job.format->streamedByProgram);
}

Outcome renderStream(std::string_view magic, int fd, const RenderJob& job,
                     const command::Options& options)
{
    fileio::OutputFile output;
    if (Error error = output.open(job.output, options.overwrite))
        return Outcome::failed(error);
    const netpbm::Read read = [fd](char* data, std::size_t size) {
        return fileio::readSome(fd, data, size);
    };
    const netpbm::Write write = [&output](const char* data, std::size_t size) {
        return output.write(data, size);
    };
    Error error = netpbm::render(magic, read, write, options.a, job.branch, options.maxPixels);
    if (!error)
        error = output.commit();
    return error ? Outcome::failed(error) : Outcome::rendered();
}

// How messages name an input that cannot be read again from its start.
std::string streamName(const RenderJob& job, fileio::Kind kind)
{
    if (job.input.kind == command::Input::Kind::StandardInput)
        return "standard input";
    return kind == fileio::Kind::Pipe ? "the pipe" : "the device";
}

Outcome renderFrom(const fileio::InputFile& input, const RenderJob& job,
                   const command::Options& options)
{
    const int fd = input.descriptor();
    const vipsio::ImageJob imageJob{options, job.branch, job.format, job.output};
    const std::string magic = fileio::readStart(fd, 2);
    if (streams(magic, job))
        return renderStream(magic, fd, job, options);
    const fileio::Kind kind = input.kind();
    // Standard input is read from where it stands, even in a file.
    if (job.input.isFile() && fileio::rereadable(kind))
        return vipsio::renderFile(fd, imageJob);
    const fileio::SpooledInput spooled(fd, streamName(job, kind), magic, options.maxMemory);
    if (spooled.error())
        return Outcome::failed(spooled.error());
    return vipsio::renderFile(spooled.descriptor(), imageJob);
}

} // namespace

Outcome runJob(const RenderJob& job, const command::Options& options)
{
    if (job.refusal)
        return Outcome::failed(job.refusal);
    vipsio::forgetErrors();
    switch (job.input.kind) {
    case command::Input::Kind::EmbeddedPhotograph:
        return vipsio::renderEmbeddedPhotograph({options, job.branch, job.format, job.output});
    case command::Input::Kind::StandardInput:
        return renderFrom(fileio::InputFile::standardInput(), job, options);
    case command::Input::Kind::File:
        break;
    }
    const fileio::InputFile input(job.input.path);
    if (input.openError())
        return Outcome::failed(input.openError());
    return renderFrom(input, job, options);
}

} // namespace batch
