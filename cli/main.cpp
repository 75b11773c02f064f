#include "batch.h"
#include "options.h"
#include "planning.h"
#include "renderjob.h"
#include "vipsstart.h"

#include <QCoreApplication>

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

    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    if (!parsed.options) {
        std::string message = parsed.message;
        while (!message.empty() && message.back() == '\n')
            message.pop_back();
        std::fprintf(parsed.exitStatus == 0 ? stdout : stderr, "%s\n", message.c_str());
        return parsed.exitStatus;
    }
    const Options& options = *parsed.options;
    // -j is the total: libvips's own pool shares what the batch's workers leave.
    const int inputs = std::max<int>(1, int(options.inputs.size()));
    const int workers = std::max(1, std::min(options.jobs, inputs));
    vipsstart::configure(options.allowUntrusted, std::max(1, options.jobs / workers));

    const Plan plan = planJobs(options);
    if (!plan.conflict.empty()) {
        std::fprintf(stderr, "inverse-logistic-render: %s\n", plan.conflict.c_str());
        return 1;
    }
    if (!options.outputDir.empty()) {
        std::error_code ignored; // a failure shows in each file's own error
        std::filesystem::create_directories(options.outputDir, ignored);
    }
    Reporter reporter(plan.jobs.size(), options.quiet);
    runPool(
        plan.jobs.size(), workers, [&](std::size_t i) { return renderJob(plan.jobs[i], options); },
        [&](std::size_t i, const std::string& error) {
            reporter.finished(plan.jobs[i].shownName, error);
        });
    const bool failed = reporter.failed() > 0;
    vipsstart::stop();
    return failed ? 1 : 0;
}
