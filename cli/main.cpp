#include "batch/childprocess.h"
#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/stopsignals.h"
#include "command/formatcatalogue.h"
#include "command/options.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "vipsio/formats.h"
#include "vipsio/start.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int printParsed(const ParsedCommandLine& parsed)
{
    std::string message = parsed.message;
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    std::fprintf(parsed.exitStatus == 0 ? stdout : stderr, "%s\n", message.c_str());
    return parsed.exitStatus;
}

// Whether a job surely needs no libvips: a Netpbm file that stays Netpbm.
// Standard input counts as one too, so that a video piped through starts
// at once; should it be another format, its job starts libvips itself.
bool streamsWithoutLibvips(const RenderJob& job)
{
    const bool netpbmInput =
        job.input.kind == Input::Kind::StandardInput ||
        (job.input.isFile() && formats::isNetpbmSuffix(suffixOf(job.input.path)));
    return netpbmInput && (!job.format || formats::isNetpbm(*job.format));
}

// Whether a job's input or output is a pipe (or a socket), standard input
// and output included: it goes at the pace of the program at its other
// end, which no time limit judges. A file or a device behind them does not.
bool throughPipe(const RenderJob& job)
{
    struct stat info {};
    if (job.input.kind == Input::Kind::StandardInput
            ? ::fstat(STDIN_FILENO, &info) == 0 && isPipe(info)
            : job.input.isFile() && ::stat(job.input.path.c_str(), &info) == 0 && isPipe(info))
        return true;
    const auto fd = inheritedDescriptor(job.output);
    return (fd ? ::fstat(*fd, &info) : ::stat(job.output.c_str(), &info)) == 0 && isPipe(info);
}

// Renders the jobs in worker processes; returns how many failed.
std::size_t render(const std::vector<const RenderJob*>& jobs, const Options& options,
                   Reporter& reporter)
{
    // -j is the total: libvips's own pool shares what the batch's workers leave.
    const int workers = std::max(1, std::min<int>(options.threads, int(jobs.size())));
    const int threadsPerWorker = std::max(1, options.threads / workers);
    vipsstart::configure(options.allowUntrusted, threadsPerWorker);
    // Started once here, libvips need not start again in each worker of a
    // batch. A single job's worker starts it itself: the worker would copy
    // what the program had touched, page by page, for no gain.
    if (jobs.size() > 1 && !std::all_of(jobs.begin(), jobs.end(), [](const RenderJob* job) {
            return streamsWithoutLibvips(*job);
        }))
        vipsstart::ensure();
    reporter.rendering(jobs.size());
    stopsignals::renderingStarts();
    childprocess::runJobs(
        jobs.size(), workers, [&](std::size_t i) { return runJob(*jobs[i], options); },
        {options.maxMemory, threadsPerWorker, options.timeLimit},
        [&](std::size_t i) {
            const std::string folder = std::filesystem::path(jobs[i]->output).parent_path();
            return childprocess::JobPlace{folder.empty() ? std::string(".") : folder,
                                          !throughPipe(*jobs[i]), isStreamOutput(jobs[i]->output)};
        },
        [&](std::size_t i, const Error& error) {
            if (stopsignals::received() != 0)
                return;
            if (error.outputExists() && options.skipExisting)
                reporter.skipped();
            else
                reporter.finished(jobs[i]->input.shownName(), error);
        },
        [] { return stopsignals::received() != 0; });
    stopsignals::renderingEnds();
    return reporter.failed();
}

// Ends the run once every output is committed. Tearing libvips, Qt and the
// hundred libraries they load down would only release what the kernel
// releases anyway, and costs a small file's render several milliseconds;
// sanitizer builds tear down, so that their leak check sees a clean end.
int leave(int status)
{
#if defined(__SANITIZE_ADDRESS__)
    vipsstart::stop();
    return status;
#else
    std::fflush(nullptr);
    ::_exit(status);
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    childprocess::noteInheritedDescriptors();
    stopsignals::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("inverse-logistic-render");
    QCoreApplication::setApplicationVersion(IL_VERSION);
    // A closed pipe is a write error like any other: one line and status 1.
    std::signal(SIGPIPE, SIG_IGN);

    const ParsedCommandLine parsed =
        parseCommandLine(QCoreApplication::arguments(), formats::Catalogue());
    if (!parsed.options)
        return printParsed(parsed);
    const Options& options = *parsed.options;
    // Planning may already look into files; -j threads until the jobs are known.
    vipsstart::configure(options.allowUntrusted, options.threads);

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
    std::vector<const RenderJob*> jobs;
    for (const RenderJob& job : plan.jobs)
        if (!job.skip)
            jobs.push_back(&job);
    if (!options.outputDir.empty() && !jobs.empty()) {
        std::error_code ignored; // a failure shows in each file's own error
        std::filesystem::create_directories(options.outputDir, ignored);
    }
    const bool failed = render(jobs, options, reporter) > 0;
    reporter.summarise(plan.jobs.size() - jobs.size());
    return leave(failed ? 1 : 0);
}
