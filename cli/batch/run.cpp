// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/run.h"

#include "batch/committer.h"
#include "batch/loop.h"
#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/stopsignals.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "loading/start.h"
#include "sandbox/sandbox.h"
#include "shownname.h"
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

std::string folderOf(const std::string& output)
{
    const std::string folder = std::filesystem::path(output).parent_path();
    return folder.empty() ? std::string(".") : folder;
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
    loading::ensureStarted();
    for (const RenderJob* job : jobs) {
        if (job->input->isFile())
            if (const formats::Format* format = formats::named(formats::suffixOf(job->input->path)))
                loading::loadModuleOf(*format);
        if (job->format)
            loading::loadModuleOf(*job->format);
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

// Renders the jobs, each in a process of its own, reporting each once its
// output is in place; an error is one the run cannot go on after.
Error render(const std::vector<const RenderJob*>& jobs, const command::Options& options,
             Reporter& reporter)
{
    // -j is the total: libvips's own pool shares what the batch's jobs leave.
    const int workers = workersFor(jobs.size(), options);
    const int threadsPerWorker = std::max(1, options.threads / workers);
    loading::configure(options.allowUntrusted, threadsPerWorker);
    if (options.sandbox)
        loading::keepImagesInMemory();
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
    Error error = runJobs(jobs, options, reporter, pool, committer);
    stopsignals::renderingEnds();
    return error;
}

} // namespace

int run(const command::Options& options, std::FILE* json)
{
    // Planning may already look into files; -j threads until the jobs are known.
    loading::configure(options.allowUntrusted, options.threads);
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
