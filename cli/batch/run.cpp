#include "batch/run.h"

#include "batch/jobfiles.h"
#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/stopsignals.h"
#include "batch/workerpool.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "sandbox/sandbox.h"
#include "shownname.h"
#include "vipsio/start.h"

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

JobPlace placeOf(const RenderJob& job, const command::Options& options)
{
    const std::string output = outputOf(job, options);
    return {folderOf(output), throughPipe(job, output), fileio::isStreamOutput(output)};
}

// An outcome as the run counts it: an output that exists is done when the
// run resumes.
Outcome reported(const Outcome& outcome, const command::Options& options)
{
    return outcome.kind() == Outcome::Kind::OutputExists && options.skipExisting
               ? Outcome::skipped()
               : outcome;
}

// What -v says of an image rendered: input, output, branch, seconds.
std::string doneLine(const RenderJob& job, const command::Options& options, double seconds)
{
    const std::string output = outputOf(job, options);
    const char* branch = !options.sheet.empty()                   ? "both branches"
                         : job.branch == transform::Branch::Lower ? "lower branch"
                                                                  : "upper branch";
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
    const int workers = workersWithinDescriptorLimit(wanted);
    if (workers < wanted && !options.quiet)
        std::fprintf(stderr,
                     "inverse-logistic-render: the limit on open files leaves room for %d "
                     "workers, not %d\n",
                     workers, wanted);
    return workers;
}

// Starts libvips with the modules that the jobs' suffixes and output formats
// name, once for every worker (a sandboxed worker can load none; a file
// whose first bytes need another goes to a worker that loads it first).
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

// The descriptor the output names, which workers keep open, if the program
// was given it. (A number it was not given is refused; by then it may be one
// of the program's own, such as a worker's socket, which no worker keeps.)
int keptDescriptor(const command::Options& options)
{
    const auto fd = fileio::inheritedDescriptor(options.output);
    return fd && *fd != STDERR_FILENO && fileio::given(*fd) ? *fd : -1;
}

// What -v says once of the workers' sandbox, where they go without some of it.
void tellSandbox(const command::Options& options, Reporter& reporter)
{
    const std::string missing = sandbox::missing();
    if (!options.sandbox || !missing.empty())
        reporter.told("inverse-logistic-render: " +
                      (options.sandbox ? missing : "workers run without a sandbox (--no-sandbox)"));
}

// The batch's jobs as its workers take them, with the files the program
// opened for those under way.
struct Jobs {
    const std::vector<const RenderJob*>& jobs;
    const command::Options& options;
    Reporter& reporter;
    WorkerPool& pool;
    std::unordered_map<std::size_t, JobFiles> files{};

    // Starts jobs from `next` while a worker is free; returns the first
    // not started.
    std::size_t start(std::size_t next)
    {
        while (pool.hasFreeWorker() && next < jobs.size() && stopsignals::received() == 0) {
            JobFiles opened(*jobs[next], options);
            if (opened.error()) {
                reporter.finished(jobs[next]->input->shownName(),
                                  reported(Outcome::failed(opened.error()), options));
                ++next;
            } else if (pool.start(next, placeOf(*jobs[next], options), opened.given(),
                                  opened.needsFreshWorker())) {
                files.emplace(next++, std::move(opened));
            }
        }
        return next;
    }

    // Puts the outputs of the jobs that finished in place, and says how each went.
    void reportFinished()
    {
        while (auto done = pool.nextFinished()) {
            const auto opened = files.find(done->index);
            const Outcome outcome = opened->second.finish(done->outcome);
            files.erase(opened);
            if (stopsignals::received() != 0)
                continue;
            const RenderJob& job = *jobs[done->index];
            reporter.finished(job.input->shownName(), reported(outcome, options));
            if (options.verbose && outcome.kind() != Outcome::Kind::Skipped && !outcome.failed())
                reporter.told(doneLine(job, options, done->took.count()));
        }
    }
};

// Renders the jobs in worker processes, reporting each as it ends; an
// error is one the run cannot go on after.
Error render(const std::vector<const RenderJob*>& jobs, const command::Options& options,
             Reporter& reporter)
{
    // -j is the total: libvips's own pool shares what the batch's workers leave.
    const int workers = workersFor(jobs.size(), options);
    const int threadsPerWorker = std::max(1, options.threads / workers);
    vipsio::configure(options.allowUntrusted, threadsPerWorker);
    if (options.sandbox)
        vipsio::keepImagesInMemory();
    // Started once here, libvips need not start again in each worker of a
    // batch. A single job's worker starts it itself: the worker would copy
    // what the program had touched, page by page, for no gain.
    if (jobs.size() > 1 && !std::all_of(jobs.begin(), jobs.end(), [](const RenderJob* job) {
            return streamsWithoutLibvips(*job);
        }))
        loadModulesNamed(jobs);
    reporter.rendering(jobs.size());
    if (options.verbose)
        tellSandbox(options, reporter);
    stopsignals::renderingStarts();
    // The run's memory budget, shared alike by its workers.
    WorkerPool pool(
        [&](std::size_t i, Given given) { return runJob(*jobs[i], options, workers, given); },
        {options.maxMemory / std::uint64_t(workers), threadsPerWorker, options.timeLimit}, workers,
        keptDescriptor(options));
    Jobs underWay{jobs, options, reporter, pool};
    Error error;
    for (std::size_t next = 0; next < jobs.size() || pool.running();) {
        next = underWay.start(next);
        if (!pool.running())
            break;
        if ((error = pool.waitForWork())) {
            killAll();
            break;
        }
        underWay.reportFinished();
    }
    stopsignals::renderingEnds();
    return error;
}

} // namespace

int run(const command::Options& options)
{
    // Planning may already look into files; -j threads until the jobs are known.
    vipsio::configure(options.allowUntrusted, options.threads);
    Reporter reporter(options.quiet);
    const Plan plan = planJobs(options, [&reporter](std::size_t planned, std::size_t total) {
        reporter.planning(planned, total);
    });
    if (!plan.conflicts.empty()) {
        for (const std::string& conflict : plan.conflicts)
            std::fprintf(stderr, "inverse-logistic-render: %s; nothing was rendered\n",
                         conflict.c_str());
        return 1;
    }
    for (const Unreadable& folder : plan.unreadable)
        reporter.finished(shownName(folder.folder), Outcome::failed(folder.error));
    std::vector<const RenderJob*> jobs;
    for (const RenderJob& job : plan.jobs)
        if (!job.skip)
            jobs.push_back(&job);
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
    reporter.summarise(plan.jobs.size() - jobs.size());
    return reporter.failed() > 0 ? 1 : 0;
}

} // namespace batch
