#include "batch/run.h"
#include "batch/stopsignals.h"
#include "command/parse.h"
#include "fileio/descriptors.h"
#include "vipsio/availability.h"
#include "vipsio/start.h"
#include "workers/capacity.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
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
    vipsio::stop();
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

    const command::ParsedCommandLine parsed =
        command::parseCommandLine(QCoreApplication::arguments(), vipsio::Catalogue());
    if (!parsed.options)
        return printParsed(parsed);
    return leave(batch::run(*parsed.options));
}
