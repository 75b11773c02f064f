#include "batch.h"
#include "decoderwarnings.h"
#include "options.h"
#include "renderjob.h"

#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("inverse-logistic-render");
    QCoreApplication::setApplicationVersion(IL_VERSION);
    decoderwarnings::install();

    const ParsedCommandLine parsed = parseCommandLine(QCoreApplication::arguments());
    if (!parsed.options) {
        std::fprintf(parsed.exitStatus == 0 ? stdout : stderr, "%s\n",
                     qPrintable(parsed.message.trimmed()));
        return parsed.exitStatus;
    }
    if (!parsed.options->outputDir.isEmpty())
        QDir().mkpath(parsed.options->outputDir); // a failure shows in each file's own error
    return runBatch(planJobs(*parsed.options), *parsed.options) == 0 ? 0 : 1;
}
