// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/loop.h"

#include "batch/jobfiles.h"
#include "batch/plan.h"
#include "batch/sidecar.h"
#include "batch/stopsignals.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "shownname.h"
#include "workers/pool.h"

#include <cstdio>
#include <memory>
#include <sys/stat.h>
#include <unordered_map>

namespace batch {

namespace {

// Whether a job's input or output is a pipe (or a socket), standard input
// and output included: it goes at the pace of the program at its other
// end, which no time limit judges. A file or a device behind them does not.
bool throughPipe(const RenderJob& job, const std::string& output)
{
    const fileio::Kind input =
        job.input->kind == command::Input::Kind::StandardInput ? fileio::classify(STDIN_FILENO)
        : job.input->isFile() ? fileio::classify(std::string(job.input->path))
                              : fileio::Kind::File;
    const auto fd = fileio::inheritedDescriptor(output);
    const fileio::Kind kind = fd ? fileio::classify(*fd) : fileio::classify(output);
    return input == fileio::Kind::Pipe || kind == fileio::Kind::Pipe;
}

workers::JobPlace placeOf(const RenderJob& job, const command::Options& options, bool outputMade)
{
    const std::string output = outputOf(job, options);
    return {throughPipe(job, output), fileio::isStreamOutput(output), outputMade};
}

// Whether the file a job was given to write holds anything: no rendering is empty.
bool holdsBytes(const fileio::OutputFile& output)
{
    struct stat written {};
    return ::fstat(output.descriptor(), &written) == 0 && written.st_size > 0;
}

// An outcome as the run counts it: an output that exists is done when the
// run resumes.
Outcome reported(const Outcome& outcome, const command::Options& options)
{
    return outcome.kind() == Outcome::Kind::OutputExists && options.skipExisting
               ? Outcome::skipped()
               : outcome;
}

const char* branchOf(const RenderJob& job, const command::Options& options)
{
    return !options.sheet.empty()                   ? "both"
           : job.branch == transform::Branch::Lower ? "lower"
                                                    : "upper";
}

// What -v says of an image rendered: input, output, branch, seconds.
std::string doneLine(const RenderJob& job, const command::Options& options, double seconds)
{
    const std::string output = outputOf(job, options);
    const std::string branch =
        std::string(branchOf(job, options)) + (options.sheet.empty() ? " branch" : " branches");
    char took[32];
    std::snprintf(took, sizeof took, "%.2f s", seconds);
    return job.input->shownName() + " -> " +
           (output == command::standardStream ? "standard output" : shownName(output)) + ": " +
           branch + ", " + took;
}

// The batch's jobs as their processes take them: the outputs of those under
// way, then of those rendered until they are in place.
struct Jobs {
    const std::vector<const RenderJob*>& jobs;
    const command::Options& options;
    Reporter& reporter;
    workers::Runner& runner;
    Committer& committer;
    std::unordered_map<std::size_t, std::unique_ptr<fileio::OutputFile>> outputs{};
    std::unordered_map<std::size_t, double> took{};

    // Starts jobs from `next` while there is room; returns the first not started.
    std::size_t start(std::size_t next)
    {
        while (runner.hasRoom() && next < jobs.size() && stopsignals::received() == 0) {
            // Refused when planned (an output that exists, say): no process for it.
            if (jobs[next]->refusal) {
                report(next, Outcome::failed(jobs[next]->refusal), 0.0);
                ++next;
                continue;
            }
            JobFiles opened(*jobs[next], options);
            if (opened.error()) {
                report(next, Outcome::failed(opened.error()), 0.0);
                ++next;
            } else if (runner.start(next,
                                    placeOf(*jobs[next], options, opened.descriptors().output >= 0),
                                    opened.descriptors())) {
                outputs.emplace(next++, opened.takeOutput());
            }
        }
        return next;
    }

    // Hands the outputs of the jobs that rendered to the committer, and
    // says how the others went.
    void takeFinished()
    {
        while (auto done = runner.nextFinished()) {
            const auto opened = outputs.find(done->index);
            std::unique_ptr<fileio::OutputFile> output = std::move(opened->second);
            outputs.erase(opened);
            const bool rendered = done->outcome.kind() == Outcome::Kind::Rendered ||
                                  done->outcome.kind() == Outcome::Kind::Warned;
            if (rendered && output && !holdsBytes(*output)) {
                report(done->index,
                       Outcome::failed(Error("the worker answered that it rendered the file but "
                                             "wrote nothing; nothing was written")),
                       done->took.count());
            } else if (rendered && output && stopsignals::received() == 0) {
                took.emplace(done->index, done->took.count());
                committer.hand(done->index, std::move(output), std::move(done->outcome));
            } else {
                report(done->index, done->outcome, done->took.count());
            }
        }
        for (Committer::Placed& placed : committer.takePlaced()) {
            const auto seconds = took.find(placed.index);
            report(placed.index, placed.outcome, seconds->second);
            took.erase(seconds);
        }
    }

    // A film's pictures, as its job says them, on the progress line.
    void showPictures()
    {
        for (const auto& [index, pictures] : runner.pictures())
            reporter.working(jobs[index]->input->shownName(), pictures);
    }

    void report(std::size_t index, const Outcome& outcome, double seconds)
    {
        if (stopsignals::received() != 0)
            return;
        const RenderJob& job = *jobs[index];
        reporter.finished(finishedOf(job, options, outcome, seconds));
        const bool rendered =
            outcome.kind() == Outcome::Kind::Rendered || outcome.kind() == Outcome::Kind::Warned;
        if (options.verbose && rendered)
            reporter.told(doneLine(job, options, seconds));
        // What describes the picture beside it goes with its rendering, unless stripped.
        // (Not beside a sheet or a show, which carry no metadata.)
        if (const std::string output = outputOf(job, options);
            rendered && !options.strip && options.sheet.empty() && options.passes == 0 &&
            !fileio::isStreamOutput(output)) {
            const Sidecar sidecar = carrySidecar(*job.input, output, options.overwrite);
            if (sidecar.error)
                reporter.told("inverse-logistic-render: " + job.input->shownName() +
                              ": warning: " + sidecar.error.reason());
            if (sidecar.carried)
                reporter.sidecarCarried();
        }
    }
};

} // namespace

// How a job ended, as the reporter tells it.
Finished finishedOf(const RenderJob& job, const command::Options& options, const Outcome& outcome,
                    double seconds)
{
    const bool drawn =
        outcome.kind() == Outcome::Kind::Rendered || outcome.kind() == Outcome::Kind::Warned;
    return {job.input->shownName(),
            job.input->kind == command::Input::Kind::EmbeddedPhotograph ? std::string_view()
                                                                        : job.input->spelling(),
            outputOf(job, options),
            reported(outcome, options),
            drawn ? branchOf(job, options) : nullptr,
            options.a,
            seconds};
}

Error runJobs(const std::vector<const RenderJob*>& jobs, const command::Options& options,
              Reporter& reporter, workers::Runner& runner, Committer& committer)
{
    Jobs underWay{jobs, options, reporter, runner, committer};
    Error error;
    for (std::size_t next = 0; next < jobs.size() || runner.running() || committer.busy();) {
        next = underWay.start(next);
        // A job whose process could not be made is finished as it starts.
        underWay.takeFinished();
        if (!runner.running() && !committer.busy() &&
            (next >= jobs.size() || stopsignals::received() != 0))
            break;
        if ((error = runner.waitForWork(committer.readyDescriptor()))) {
            workers::killAll();
            break;
        }
        underWay.showPictures();
        underWay.takeFinished();
        if (stopsignals::received() != 0 && !runner.running())
            break;
    }
    return error;
}

} // namespace batch
