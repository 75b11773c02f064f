// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/runjob.h"

#include "batch/jobfiles.h"
#include "batch/plan.h"
#include "batch/runfilm.h"
#include "fileio/descriptors.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "fileio/spool.h"
#include "netpbm/netpbm.h"
#include "pipeline/openahead.h"
#include "pipeline/render.h"
#include "sandbox/sandbox.h"

#include <optional>

namespace batch {

namespace {

// Whether the input is a binary Netpbm stream that stays one.
bool streams(std::string_view magic, const RenderJob& job)
{
    return netpbm::isBinary(magic) && (!job.format || job.format->streamedByProgram);
}

// Gives up all the worker does not hold, before a byte of the input is parsed.
Error enterSandbox(const command::Options& options)
{
    if (!options.sandbox)
        return {};
    if (Error error = sandbox::enter())
        return Error("cannot enter the sandbox: " + error.reason() +
                     " (--no-sandbox runs without)");
    return {};
}

Outcome renderStream(std::string_view magic, int fd, const RenderJob& job,
                     const pipeline::ImageJob& imageJob, const workers::Pace& pace)
{
    const command::Options& options = imageJob.options;
    if (Error error = enterSandbox(options))
        return Outcome::failed(error);
    // A stream goes through at the pace of the programs at its ends.
    pace(true);
    fileio::OutputFile& output = *imageJob.written;
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

// Renders the file open at `fd`, a film through FFmpeg, anything else
// through libvips, once what it needs is open.
Outcome renderOpened(int fd, const RenderJob& job, const pipeline::ImageJob& imageJob)
{
    const std::string start = fileio::firstBytes(fd, 16);
    if (isFilm(start))
        return renderFilmJob(fd, job, imageJob);
    if (imageJob.options.passes == 0 && imageJob.format && imageJob.format->film)
        return Outcome::failed(Error("a picture becomes a film only as a show (--passes N)"));
    pipeline::openAhead(start, imageJob.format, imageJob.options);
    if (imageJob.format && imageJob.format->film)
        if (Error error = loadFilmModule())
            return Outcome::failed(error);
    // Pages of different sizes are written one at a time to scratch.
    if (const formats::Format* read = formats::byMagic(start); read && read->keepsPagesOfAnySize)
        fileio::reserveScratch();
    if (Error error = enterSandbox(imageJob.options))
        return Outcome::failed(error);
    if (imageJob.options.passes > 0)
        return renderShowJob(fd, start, job, imageJob);
    return pipeline::renderFile(fd, start, imageJob);
}

// How messages name an input that cannot be read again from its start.
std::string streamName(const RenderJob& job, fileio::Kind kind)
{
    if (job.input->kind == command::Input::Kind::StandardInput)
        return "standard input";
    return kind == fileio::Kind::Pipe ? "the pipe" : "the device";
}

Outcome renderFrom(const fileio::InputFile& input, const RenderJob& job,
                   const pipeline::ImageJob& imageJob, bool outputGiven, const workers::Pace& pace)
{
    const command::Options& options = imageJob.options;
    const int fd = input.descriptor();
    const fileio::Kind kind = input.kind();
    // A pipe is read at its writer's pace; what the job does with the
    // bytes, at its own.
    if (kind == fileio::Kind::Pipe)
        pace(true);
    const std::string magic = fileio::readStart(fd, 2);
    if (magic.empty() && !fileio::rereadable(kind))
        return Outcome::failed(Error("is empty: no image came through it; give it one, as "
                                     "inverse-logistic-render -o out.png - < photo.jpg"));
    const bool stream = streams(magic, job);
    if (!outputGiven)
        if (Error error = openOutput(*imageJob.written, imageJob.output, options,
                                     stream ? fileio::OutputFile::Streams::AsWritten
                                            : fileio::OutputFile::Streams::Whole))
            return Outcome::failed(error);
    if (stream)
        return renderStream(magic, fd, job, imageJob, pace);
    // Standard input is read from where it stands, even in a file.
    if (job.input->isFile() && fileio::rereadable(kind))
        return renderOpened(fd, job, imageJob);
    const fileio::SpooledInput spooled(fd, streamName(job, kind), magic, options.maxMemory);
    if (spooled.error())
        return Outcome::failed(spooled.error());
    pace(false);
    return renderOpened(spooled.descriptor(), job, imageJob);
}

Outcome renderPhotograph(const RenderJob& job, const pipeline::ImageJob& imageJob, bool outputGiven)
{
    if (!outputGiven)
        if (Error error = openOutput(*imageJob.written, imageJob.output, imageJob.options,
                                     fileio::OutputFile::Streams::Whole))
            return Outcome::failed(error);
    pipeline::openAhead({}, imageJob.format, imageJob.options);
    if (imageJob.format && imageJob.format->film)
        if (Error error = loadFilmModule())
            return Outcome::failed(error);
    if (Error error = enterSandbox(imageJob.options))
        return Outcome::failed(error);
    if (imageJob.options.passes > 0)
        return renderShowJob(-1, {}, job, imageJob);
    if (imageJob.format && imageJob.format->film)
        return Outcome::failed(Error("a picture becomes a film only as a show (--passes N)"));
    return pipeline::renderEmbeddedPhotograph(imageJob);
}

} // namespace

Outcome runJob(const RenderJob& job, const command::Options& options, int sharers,
               workers::JobDescriptors given, const workers::Pace& pace)
{
    // What was sent is this job's to close, whatever becomes of it.
    std::optional<fileio::InputFile> input;
    if (given.input >= 0)
        input.emplace(fileio::InputFile::adopt(given.input));
    fileio::OutputFile output;
    output.paceWith(pace);
    if (given.output >= 0)
        output.adopt(given.output, outputOf(job, options));
    if (job.refusal)
        return Outcome::failed(job.refusal);
    const pipeline::ImageJob imageJob{options, job.branch, job.format, outputOf(job, options),
                                      sharers, &output};
    // Opening a FIFO waits for the program at its other end: timed, until
    // the job says its streams are open.
    const fileio::FifoHold fifo(given.output >= 0 ? std::string() : imageJob.output);
    if (job.input->kind == command::Input::Kind::EmbeddedPhotograph)
        return renderPhotograph(job, imageJob, given.output >= 0);
    if (!input)
        input.emplace(job.input->isFile() ? fileio::InputFile(std::string(job.input->path))
                                          : fileio::InputFile::standardInput());
    if (input->openError())
        return Outcome::failed(input->openError());
    return renderFrom(*input, job, imageJob, given.output >= 0, pace);
}

} // namespace batch
