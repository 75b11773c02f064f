#include "batch/plan.h"
#include "batch/reporter.h"
#include "batch/runjob.h"
#include "batch/workerpool.h"
#include "command/options.h"
#include "vipsio/formats.h"
#include "vipsio/start.h"

#include <QCoreApplication>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("inverse-logistic-render");
    QCoreApplication::setApplicationVersion(IL_VERSION);
    // A closed pipe is a write error like any other: one line and status 1.
    std::signal(SIGPIPE, SIG_IGN);

    const ParsedCommandLine parsed =
        parseCommandLine(QCoreApplication::arguments(), formats::Catalogue());
    if (!parsed.options) {
        std::string message = parsed.message;
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        std::fprintf(parsed.exitStatus == 0 ? stdout : stderr, "%s\n", message.c_str());
        return parsed.exitStatus;
    }
    const Options& options = *parsed.options;
    // Planning may already look into files; -j threads until the jobs are known.
    vipsstart::configure(options.allowUntrusted, options.threads);

    const Plan plan = planJobs(options);
    if (plan.conflict) {
        std::fprintf(stderr, "inverse-logistic-render: %s\n", plan.conflict.reason().c_str());
        return 1;
    }
    if (!options.outputDir.empty()) {
        std::error_code ignored; // a failure shows in each file's own error
        std::filesystem::create_directories(options.outputDir, ignored);
    }
    std::vector<const RenderJob*> jobs;
    for (const RenderJob& job : plan.jobs)
        if (!job.skip)
            jobs.push_back(&job);
    // -j is the total: libvips's own pool shares what the batch's workers leave.
    const int workers = std::max(1, std::min<int>(options.threads, int(jobs.size())));
    vipsstart::configure(options.allowUntrusted, std::max(1, options.threads / workers));
    Reporter reporter(jobs.size(), options.quiet);
    runPool(
        jobs.size(), workers,
        [&](std::size_t i, bool alone) { return runJob(*jobs[i], options, alone); },
        [&](std::size_t i, const Error& error) {
            reporter.finished(jobs[i]->input.shownName(), error);
        });
    reporter.summarise(plan.jobs.size() - jobs.size());
    const bool failed = reporter.failed() > 0;
    vipsstart::stop();
    return failed ? 1 : 0;
}
