#include "batch/run.h"

#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/stopsignals.h"
#include "batch/workerpool.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "shownname.h"
#include "vipsio/start.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <unistd.h>

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

// Renders the jobs in worker processes, reporting each as it ends; an
// error is one the run cannot go on after.
Error render(const std::vector<const RenderJob*>& jobs, const command::Options& options,
             Reporter& reporter)
{
    // -j is the total: libvips's own pool shares what the batch's workers leave.
    const int workers = workersFor(jobs.size(), options);
    const int threadsPerWorker = std::max(1, options.threads / workers);
    vipsio::configure(options.allowUntrusted, threadsPerWorker);
    // Started once here, libvips need not start again in each worker of a
    // batch. A single job's worker starts it itself: the worker would copy
    // what the program had touched, page by page, for no gain.
    if (jobs.size() > 1 && !std::all_of(jobs.begin(), jobs.end(), [](const RenderJob* job) {
            return streamsWithoutLibvips(*job);
        }))
        vipsio::ensureStarted();
    reporter.rendering(jobs.size());
    stopsignals::renderingStarts();
    // The run's memory budget, shared alike by its workers.
    WorkerPool pool(
        [&](std::size_t i) { return runJob(*jobs[i], options, workers); },
        {options.maxMemory / std::uint64_t(workers), threadsPerWorker, options.timeLimit}, workers);
    Error error;
    for (std::size_t next = 0; next < jobs.size() || pool.running();) {
        while (pool.hasFreeWorker() && next < jobs.size() && stopsignals::received() == 0)
            if (pool.start(next, placeOf(*jobs[next], options)))
                ++next;
        if (!pool.running())
            break;
        if ((error = pool.waitForWork())) {
            killAll();
            break;
        }
        while (auto done = pool.nextFinished()) {
            if (stopsignals::received() != 0)
                continue;
            const bool resumed =
                done->outcome.kind() == Outcome::Kind::OutputExists && options.skipExisting;
            const RenderJob& job = *jobs[done->index];
            reporter.finished(job.input->shownName(), resumed ? Outcome::skipped() : done->outcome);
            if (options.verbose && !resumed && !done->outcome.failed())
                reporter.told(doneLine(job, options, done->took.count()));
        }
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
