#include "batch/jobfiles.h"

#include "batch/plan.h"
#include "vipsio/start.h"

#include <fcntl.h>

namespace batch {

namespace {

// Whether the program opens this input: a FIFO named by path waits for
// its writer (which the job's time limit judges in the worker).
bool programOpens(const command::Input& input)
{
    const std::string path(input.path);
    return fileio::classify(path) != fileio::Kind::Pipe ||
           fileio::inheritedDescriptor(path).has_value();
}

} // namespace

Error openOutput(fileio::OutputFile& output, const std::string& path,
                 const command::Options& options, fileio::OutputFile::Streams streams)
{
    return output.open(path, options.overwrite, streams, !options.output.empty());
}

JobFiles::JobFiles(const RenderJob& job, const command::Options& options)
    : sandboxed_(options.sandbox)
{
    if (job.refusal)
        return;
    const std::string output = outputOf(job, options);
    if (fileio::isStreamOutput(output)) {
        fresh_ = true;
    } else {
        output_ = std::make_unique<fileio::OutputFile>();
        if ((error_ = openOutput(*output_, output, options, fileio::OutputFile::Streams::Whole)))
            return;
    }
    switch (job.input->kind) {
    case command::Input::Kind::EmbeddedPhotograph:
        return;
    case command::Input::Kind::StandardInput:
        fresh_ = true; // held in a file of its own
        return;
    case command::Input::Kind::File:
        break;
    }
    if (!programOpens(*job.input)) {
        fresh_ = true;
        return;
    }
    input_.emplace(std::string(job.input->path), fileio::InputFile::Wait::No);
    if ((error_ = input_->openError()))
        return;
    // Opened without waiting, read as usual.
    const int fd = input_->descriptor();
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // A pipe or a device is held in a file first, which the worker makes.
    if (!fileio::rereadable(input_->kind()) ||
        !vipsio::canReadWithoutLoading(fileio::firstBytes(fd, 16)))
        fresh_ = true;
}

Given JobFiles::given() const
{
    return {input_ ? input_->descriptor() : -1, output_ ? output_->descriptor() : -1};
}

Outcome JobFiles::finish(const Outcome& outcome)
{
    const bool rendered =
        outcome.kind() == Outcome::Kind::Rendered || outcome.kind() == Outcome::Kind::Warned;
    if (!rendered || !output_)
        return outcome;
    // A job is rendered only once its worker synced the file.
    if (Error error = output_->commit(fileio::OutputFile::Synced::Yes))
        return Outcome::failed(error);
    return outcome;
}

} // namespace batch
