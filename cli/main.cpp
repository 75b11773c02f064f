// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/run.h"
#include "batch/stopsignals.h"
#include "command/parse.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "loading/availability.h"
#include "loading/start.h"
#include "shownname.h"
#include "workers/capacity.h"

#include <QCoreApplication>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int printParsed(const command::ParsedCommandLine& parsed)
{
    std::string message = parsed.message;
    while (!message.empty() && message.back() == '\n')
        message.pop_back();
    std::fprintf(parsed.exitStatus == 0 ? stdout : stderr, "%s\n", message.c_str());
    return parsed.exitStatus;
}

// Ends the run once every output is committed. Tearing libvips, Qt and the
// hundred libraries they load down would only release what the kernel
// releases anyway, and costs a small file's render several milliseconds;
// sanitizer builds tear down, so that their leak check sees a clean end.
int leave(int status)
{
#if defined(__SANITIZE_ADDRESS__)
    loading::stop();
    return status;
#else
    std::fflush(nullptr);
    ::_exit(status);
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    fileio::noteGivenDescriptors();
    workers::raiseDescriptorLimit();
    batch::stopsignals::install();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("inverse-logistic-render");
    QCoreApplication::setApplicationVersion(IL_VERSION);
    // A closed pipe is a write error like any other: one line and status 1.
    std::signal(SIGPIPE, SIG_IGN);

    const command::ParsedCommandLine parsed = command::parseCommandLine(
        std::vector<std::string>(argv, argv + argc), loading::Catalogue());
    if (!parsed.options)
        return printParsed(parsed);
    // The results for programs go where --json says, opened before anything is planned.
    std::FILE* json = nullptr;
    if (const std::string& where = parsed.options->json; where == "-") {
        json = stdout;
    } else if (!where.empty() && !(json = std::fopen(where.c_str(), "we"))) {
        std::fprintf(stderr, "inverse-logistic-render: --json: cannot write %s: %s\n",
                     shownName(where).c_str(), std::strerror(errno));
        return 1;
    }
    // Results and renderings on one stream would corrupt both.
    struct stat results {};
    struct stat out {};
    const auto named = fileio::inheritedDescriptor(parsed.options->output);
    if (json && json != stdout && named && *named == STDOUT_FILENO &&
        ::fstat(::fileno(json), &results) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
        results.st_dev == out.st_dev && results.st_ino == out.st_ino) {
        std::fprintf(stderr, "inverse-logistic-render: --json and -o would both write standard "
                             "output; give --json a file\n");
        return 2;
    }
    return leave(batch::run(*parsed.options, json));
}
