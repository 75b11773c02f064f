// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/jobfiles.h"

#include "batch/plan.h"

#include <fcntl.h>
#include <unistd.h>

namespace batch {

namespace {

// Whether the program opens this input: a FIFO named by path waits for
// its writer (which the job's time limit judges in its process).
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
{
    if (job.refusal)
        return;
    const std::string output = outputOf(job, options);
    if (const auto named = fileio::inheritedDescriptor(output)) {
        // Checked by the job, which refuses one the program was not given.
        if (*named != STDERR_FILENO && fileio::given(*named))
            sameNumber_[0] = *named;
    } else if (!fileio::isStreamOutput(output)) {
        output_ = std::make_unique<fileio::OutputFile>();
        if ((error_ = openOutput(*output_, output, options, fileio::OutputFile::Streams::Whole)))
            return;
    }
    switch (job.input->kind) {
    case command::Input::Kind::EmbeddedPhotograph:
        return;
    case command::Input::Kind::StandardInput:
        sameNumber_[1] = STDIN_FILENO;
        return;
    case command::Input::Kind::File:
        break;
    }
    // A file found with -r is opened beneath its folder, and was a file
    // when found: whatever took its place since is refused.
    const bool found = job.input->below > 0;
    if (!found && !programOpens(*job.input))
        return;
    input_.emplace(openInput(*job.input, fileio::InputFile::Wait::No));
    if ((error_ = input_->openError()))
        return;
    if (found && input_->kind() != fileio::Kind::File) {
        error_ = Error("is no longer a file, as it was when its folder was read");
        return;
    }
    // Opened without waiting, read as usual.
    const int fd = input_->descriptor();
    (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (output_)
        output_->limitModeTo(fd);
}

workers::JobDescriptors JobFiles::descriptors() const
{
    return {input_ ? input_->descriptor() : -1,
            output_ ? output_->descriptor() : -1,
            {sameNumber_[0], sameNumber_[1]}};
}

} // namespace batch
