// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batch/renderjob.h"
#include "command/options.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "outcome.h"
#include "workers/job.h"

#include <memory>
#include <optional>

namespace batch {

// Opens an output as the options say: an existing one replaced only with
// -y, one written in place only where -o names it.
Error openOutput(fileio::OutputFile& output, const std::string& path,
                 const command::Options& options, fileio::OutputFile::Streams streams);

// What the program opens for a job before its process takes it, so that the
// sandboxed job has nothing to open: the input where opening cannot wait
// (a file, a device, a descriptor named by path), and the output where it
// is a new file, which the program puts in place once the job succeeds.
// Standard input, and standard output or a descriptor an output names, go
// to the job under their own numbers. What it leaves (a FIFO named as
// input or output, a device named as output) the job opens itself, before
// it enters its sandbox.
class JobFiles {
public:
    JobFiles(const RenderJob& job, const command::Options& options);

    // Why the job fails before it starts (its input cannot be opened, its
    // output cannot be made), if it does.
    const Error& error() const { return error_; }
    // The descriptors to send with the job.
    workers::JobDescriptors descriptors() const;
    // The new file the job writes, which the program puts in place once the
    // job rendered it (nothing for a stream the job writes itself).
    std::unique_ptr<fileio::OutputFile> takeOutput() { return std::move(output_); }

private:
    std::optional<fileio::InputFile> input_;
    std::unique_ptr<fileio::OutputFile> output_;
    int sameNumber_[2] = {-1, -1};
    Error error_;
};

} // namespace batch
