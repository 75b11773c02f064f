#pragma once

#include "batch/renderjob.h"
#include "batch/workerpool.h"
#include "command/options.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "outcome.h"

#include <memory>
#include <optional>

namespace batch {

// Opens an output as the options say: an existing one replaced only with
// -y, one written in place only where -o names it.
Error openOutput(fileio::OutputFile& output, const std::string& path,
                 const command::Options& options, fileio::OutputFile::Streams streams);

// What the program opens for a job before a worker takes it, so that a
// sandboxed worker has nothing to open: the input where opening cannot
// wait (a file, a device, a descriptor named by path), and the output where
// it is a new file, which the program puts in place once the job succeeds.
// What it leaves (a FIFO named as input, a stream as output, standard
// input to hold) the worker opens itself, before it enters its sandbox.
class JobFiles {
public:
    JobFiles(const RenderJob& job, const command::Options& options);

    // Why the job fails before it starts (its input cannot be opened, its
    // output cannot be made), if it does.
    const Error& error() const { return error_; }
    // The descriptors to send with the job.
    Given given() const;
    // Whether the job needs a worker that has not entered its sandbox yet:
    // one that opens some of the job's files itself, or loads a module to
    // read the input. (Without the sandbox, any worker will do.)
    bool needsFreshWorker() const { return sandboxed_ && fresh_; }
    // What became of the job: with the output put in place, when rendered.
    Outcome finish(const Outcome& outcome);

private:
    std::optional<fileio::InputFile> input_;
    std::unique_ptr<fileio::OutputFile> output_;
    bool sandboxed_ = true;
    bool fresh_ = false;
    Error error_;
};

} // namespace batch
