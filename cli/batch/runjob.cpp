#include "batch/runjob.h"

#include "batch/plan.h"
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
                     const vipsio::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    // A stream goes through at the pace of the programs at its ends.
    fileio::pace(true);
    fileio::OutputFile output;
    if (Error error = output.open(imageJob.output, options.overwrite,
                                  fileio::OutputFile::Streams::AsWritten, !options.output.empty()))
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
    if (job.input->kind == command::Input::Kind::StandardInput)
        return "standard input";
    return kind == fileio::Kind::Pipe ? "the pipe" : "the device";
}

Outcome renderFrom(const fileio::InputFile& input, const RenderJob& job,
                   const vipsio::ImageJob& imageJob)
{
    const command::Options& options = imageJob.options;
    const int fd = input.descriptor();
    const fileio::Kind kind = input.kind();
    // A pipe is read at its writer's pace; what the job does with the
    // bytes, at its own.
    if (kind == fileio::Kind::Pipe)
        fileio::pace(true);
    const std::string magic = fileio::readStart(fd, 2);
    if (streams(magic, job))
        return renderStream(magic, fd, job, imageJob);
    // Standard input is read from where it stands, even in a file.
    if (job.input->isFile() && fileio::rereadable(kind))
        return vipsio::renderFile(fd, imageJob);
    const fileio::SpooledInput spooled(fd, streamName(job, kind), magic, options.maxMemory);
    if (spooled.error())
        return Outcome::failed(spooled.error());
    fileio::pace(false);
    return vipsio::renderFile(spooled.descriptor(), imageJob);
}

} // namespace

Outcome runJob(const RenderJob& job, const command::Options& options, int workers)
{
    if (job.refusal)
        return Outcome::failed(job.refusal);
    vipsio::forgetErrors();
    // Opening a FIFO waits for the program at its other end: timed, until
    // the job says its streams are open.
    const vipsio::ImageJob imageJob{options, job.branch, job.format, outputOf(job, options),
                                    workers};
    const fileio::FifoHold output(imageJob.output);
    if (job.input->kind == command::Input::Kind::EmbeddedPhotograph)
        return vipsio::renderEmbeddedPhotograph(imageJob);
    const fileio::InputFile input = job.input->isFile()
                                        ? fileio::InputFile(std::string(job.input->path))
                                        : fileio::InputFile::standardInput();
    if (input.openError())
        return Outcome::failed(input.openError());
    return renderFrom(input, job, imageJob);
}

} // namespace batch
