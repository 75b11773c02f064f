// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/run.h"

#include "batch/committer.h"
#include "batch/jobfiles.h"
#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/stopsignals.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "sandbox/sandbox.h"
#include "shownname.h"
#include "vipsio/start.h"
#include "workers/capacity.h"
#include "workers/pool.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <unistd.h>
#include <unordered_map>

namespace batch {

namespace {

// Whether a job surely needs no libvips: a Netpbm file that stays Netpbm.
// Standard input counts as one too, so that a video piped through starts
// at once; should it be another format, its job starts libvips itself.
bool streamsWithoutLibvips(const RenderJob& job)
{
    const formats::Format* read = formats::named(formats::suffixOf(job.input->path));
    const bool netpbmInput = job.input->kind == command::Input::Kind::StandardInput ||
                             (job.input->isFile() && read && read->streamedByProgram);
    return netpbmInput && (!job.format || job.format->streamedByProgram);
}

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

std::string folderOf(const std::string& output)
{
    const std::string folder = std::filesystem::path(output).parent_path();
    return folder.empty() ? std::string(".") : folder;
}

workers::JobPlace placeOf(const RenderJob& job, const command::Options& options)
{
    const std::string output = outputOf(job, options);
    return {throughPipe(job, output), fileio::isStreamOutput(output)};
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

// How many workers render: -j's threads, one per job at most, and as many
// as the limit on open descriptors leaves room for (said once, unless -q).
int workersFor(std::size_t jobs, const command::Options& options)
{
    const int wanted = std::max(1, std::min<int>(options.threads, int(jobs)));
    const int workers = workers::processesWithinDescriptorLimit(wanted);
    if (workers < wanted && !options.quiet)
        std::fprintf(stderr,
                     "inverse-logistic-render: the limit on open files leaves room for %d "
                     "workers, not %d\n",
                     workers, wanted);
    return workers;
}

// Starts libvips with the modules that the jobs' suffixes and output formats
// name, once for every job's process (one whose file's first bytes need
// another loads it before it enters its sandbox).
void loadModulesNamed(const std::vector<const RenderJob*>& jobs)
{
    vipsio::ensureStarted();
    for (const RenderJob* job : jobs) {
        if (job->input->isFile())
            if (const formats::Format* format = formats::named(formats::suffixOf(job->input->path)))
                vipsio::loadModuleOf(*format);
        if (job->format)
            vipsio::loadModuleOf(*job->format);
    }
}

// What -v says once of the jobs' sandbox, where they go without some of
// it, and of how their memory is bounded.
void tellSandbox(const command::Options& options, const workers::Pool& pool, Reporter& reporter)
{
    const std::string missing = sandbox::missing();
    if (!options.sandbox || !missing.empty())
        reporter.told("inverse-logistic-render: " +
                      (options.sandbox ? missing : "workers run without a sandbox (--no-sandbox)"));
    reporter.told("inverse-logistic-render: " + pool.memoryBound());
}

// The batch's jobs as their processes take them: the outputs of those under
// way, then of those rendered until they are in place.
struct Jobs {
    const std::vector<const RenderJob*>& jobs;
    const command::Options& options;
    Reporter& reporter;
    workers::Pool& pool;
    Committer& committer;
    std::unordered_map<std::size_t, std::unique_ptr<fileio::OutputFile>> outputs{};
    std::unordered_map<std::size_t, double> took{};

    // Starts jobs from `next` while there is room; returns the first not started.
    std::size_t start(std::size_t next)
    {
        while (pool.hasRoom() && next < jobs.size() && stopsignals::received() == 0) {
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
            } else if (pool.start(next, placeOf(*jobs[next], options), opened.descriptors())) {
                outputs.emplace(next++, opened.takeOutput());
            }
        }
        return next;
    }

    // Hands the outputs of the jobs that rendered to the committer, and
    // says how the others went.
    void takeFinished()
    {
        while (auto done = pool.nextFinished()) {
            const auto opened = outputs.find(done->index);
            std::unique_ptr<fileio::OutputFile> output = std::move(opened->second);
            outputs.erase(opened);
            const bool rendered = done->outcome.kind() == Outcome::Kind::Rendered ||
                                  done->outcome.kind() == Outcome::Kind::Warned;
            if (rendered && output && stopsignals::received() == 0) {
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
        for (const auto& [index, pictures] : pool.pictures())
            reporter.working(jobs[index]->input->shownName(), pictures);
    }

    void report(std::size_t index, const Outcome& outcome, double seconds)
    {
        if (stopsignals::received() != 0)
            return;
        const RenderJob& job = *jobs[index];
        reporter.finished(finishedOf(job, options, outcome, seconds));
        if (options.verbose && outcome.kind() != Outcome::Kind::Skipped && !outcome.failed())
            reporter.told(doneLine(job, options, seconds));
    }
};

// Renders the jobs, each in a process of its own, reporting each once its
// output is in place; an error is one the run cannot go on after.
Error render(const std::vector<const RenderJob*>& jobs, const command::Options& options,
             Reporter& reporter)
{
    // -j is the total: libvips's own pool shares what the batch's jobs leave.
    const int workers = workersFor(jobs.size(), options);
    const int threadsPerWorker = std::max(1, options.threads / workers);
    vipsio::configure(options.allowUntrusted, threadsPerWorker);
    if (options.sandbox)
        vipsio::keepImagesInMemory();
    // Started once here, libvips need not start again in each job's process
    // of a batch. A single job's process starts it itself: the template
    // would copy what the program had touched, page by page, for no gain.
    if (jobs.size() > 1 && !std::all_of(jobs.begin(), jobs.end(), [](const RenderJob* job) {
            return streamsWithoutLibvips(*job);
        }))
        loadModulesNamed(jobs);
    reporter.rendering(jobs.size());
    stopsignals::renderingStarts();
    // The run's memory budget, shared alike by its jobs.
    workers::Pool pool(
        [&](std::size_t i, workers::JobDescriptors given, const workers::Pace& pace) {
            return runJob(*jobs[i], options, workers, given, pace);
        },
        {options.maxMemory / std::uint64_t(workers), threadsPerWorker, options.timeLimit}, workers);
    if (options.verbose)
        tellSandbox(options, pool, reporter);
    // Its thread starts once the template, forked from this process, is.
    Committer committer;
    Jobs underWay{jobs, options, reporter, pool, committer};
    Error error;
    for (std::size_t next = 0; next < jobs.size() || pool.running() || committer.busy();) {
        next = underWay.start(next);
        if (!pool.running() && !committer.busy() &&
            (next >= jobs.size() || stopsignals::received() != 0))
            break;
        if ((error = pool.waitForWork(committer.readyDescriptor()))) {
            workers::killAll();
            break;
        }
        underWay.showPictures();
        underWay.takeFinished();
        if (stopsignals::received() != 0 && !pool.running())
            break;
    }
    stopsignals::renderingEnds();
    return error;
}

} // namespace

int run(const command::Options& options, std::FILE* json)
{
    // Planning may already look into files; -j threads until the jobs are known.
    vipsio::configure(options.allowUntrusted, options.threads);
    Reporter reporter(options.quiet, json);
    const Plan plan = planJobs(options, [&reporter](std::size_t planned, std::size_t total) {
        reporter.planning(planned, total);
    });
    if (!plan.conflicts.empty()) {
        for (const std::string& conflict : plan.conflicts)
            std::fprintf(stderr, "inverse-logistic-render: %s\n", conflict.c_str());
        return 1;
    }
    for (const Unreadable& folder : plan.unreadable)
        reporter.finished({shownName(folder.folder),
                           folder.folder,
                           {},
                           Outcome::failed(folder.error),
                           nullptr,
                           options.a,
                           0.0});
    for (const Unreadable& file : plan.passedOver)
        reporter.told("inverse-logistic-render: " + file.folder + ": " + file.error.reason());
    std::vector<const RenderJob*> jobs;
    for (const RenderJob& job : plan.jobs)
        if (!job.skip)
            jobs.push_back(&job);
        else
            reporter.finished(finishedOf(job, options, Outcome::skipped(), 0.0));
    // Folders of -d's tree are made as needed, and temporaries that killed
    // runs left where this one writes go first.
    std::set<std::string> folders;
    for (const RenderJob* job : jobs)
        if (const std::string output = outputOf(*job, options);
            !job->refusal && !fileio::isStreamOutput(output) &&
            folders.insert(folderOf(output)).second) {
            std::error_code ignored; // a failure shows in each file's own error
            if (!options.outputDir.empty())
                std::filesystem::create_directories(folderOf(output), ignored);
            fileio::removeStaleTemporaries(folderOf(output));
        }
    if (const Error error = render(jobs, options, reporter)) {
        std::fprintf(stderr, "inverse-logistic-render: %s; the run stops\n",
                     error.reason().c_str());
        return 1;
    }
    return reporter.summarise(stopsignals::received(), options.overwrite);
}

} // namespace batch
