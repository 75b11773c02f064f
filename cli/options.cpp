#include "options.h"

#include "colourmap.h"
#include "numbers.h"
#include "runtimeerror.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QImageWriter>
#include <QLocale>

#include <thread>

namespace {

const char* description =
    "Renders images through the inverse logistic colour map: every colour channel v,\n"
    "scaled to [0, 1], becomes one of the two solutions y of a*y*(1-y) = v, the dark\n"
    "lower one or the bright upper one. Alpha passes through, greyscale stays greyscale,\n"
    "16-bit images keep 16 bits. With no INPUT it renders the embedded photograph.\n"
    "INPUT - reads standard input; -o - writes standard output.\n"
    "\n"
    "Exit status: 0 when every image was rendered, 1 when any failed (each failure is\n"
    "one line on standard error), 2 for a usage error.";

struct Parser {
    QCommandLineParser parser;
    QCommandLineOption parameter{{"a", "parameter"},
                                 "The parameter a (default 4); values below 4 become 4. Written "
                                 "with a decimal point or in the user's locale.",
                                 "A",
                                 "4"};
    QCommandLineOption branch{
        {"b", "branch"}, "lower, upper or random (default): one draw per image.", "B", "random"};
    QCommandLineOption seed{"seed", "Seed for the random draws, so a batch can be reproduced.",
                            "N"};
    QCommandLineOption output{{"o", "output"},
                              "Where the rendering goes, for one input (or the embedded "
                              "photograph); - for standard output.",
                              "FILE"};
    QCommandLineOption outputDir{{"d", "output-dir"},
                                 "Where renderings go for several inputs; each keeps its input's "
                                 "base name.",
                                 "DIR"};
    QCommandLineOption format{{"f", "format"},
                              "Output format (png, jpg, bmp, ppm, ...); default from the output "
                              "name, else the input's.",
                              "FMT"};
    QCommandLineOption overwrite{{"y", "overwrite"},
                                 "Replace existing output files; without it an existing file is "
                                 "never touched."};
    QCommandLineOption jobs{{"j", "jobs"}, "Worker threads (default: the machine's cores).", "N"};
    QCommandLineOption quiet{{"q", "quiet"}, "No progress line."};

    Parser()
    {
        parser.setApplicationDescription(description);
        parser.addHelpOption();
        parser.addVersionOption();
        parser.addOptions(
            {parameter, branch, seed, output, outputDir, format, overwrite, jobs, quiet});
        parser.addPositionalArgument("INPUT", "Image files to render.", "[INPUT ...]");
    }
};

ParsedCommandLine usageError(const QString& message)
{
    return {std::nullopt,
            QString("%1: %2\nTry '%1 --help' for more information.")
                .arg(QCoreApplication::applicationName(), message),
            2};
}

std::optional<float> parseParameter(const QString& text)
{
    // The user's locale first, then the decimal point scripts are written with.
    for (const QLocale& locale : {QLocale::system(), QLocale::c()}) {
        try {
            return platform::textToSingle(text, locale);
        } catch (const platform::RuntimeError&) {
        }
    }
    return std::nullopt;
}

} // namespace

QString helpText()
{
    Parser parser;
    // Qt names the program by the path it was started with; the help names it plainly.
    QString text = parser.parser.helpText();
    const QString started = QCoreApplication::arguments().value(0);
    if (!started.isEmpty())
        text.replace("Usage: " + started, "Usage: " + QCoreApplication::applicationName());
    return text;
}

ParsedCommandLine parseCommandLine(const QStringList& arguments)
{
    Parser p;
    QCommandLineParser& parser = p.parser;
    if (!parser.parse(arguments))
        return usageError(parser.errorText());
    if (parser.isSet("help"))
        return {std::nullopt, helpText(), 0};
    if (parser.isSet("version"))
        return {std::nullopt,
                QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion(),
                0};

    Options options;
    const auto a = parseParameter(parser.value(p.parameter));
    if (!a)
        return usageError(QString("-a: \u201c%1\u201d is not a number in the float range")
                              .arg(parser.value(p.parameter)));
    options.a = transform::clampParameter(*a);

    const QString branch = parser.value(p.branch).toLower();
    if (branch == "lower")
        options.branch = BranchChoice::Lower;
    else if (branch == "upper")
        options.branch = BranchChoice::Upper;
    else if (branch != "random")
        return usageError(QString("--branch: \u201c%1\u201d is not lower, upper or random")
                              .arg(parser.value(p.branch)));

    if (parser.isSet(p.seed)) {
        bool ok = false;
        options.seed = parser.value(p.seed).toULongLong(&ok);
        if (!ok)
            return usageError(QString("--seed: \u201c%1\u201d is not a non-negative integer")
                                  .arg(parser.value(p.seed)));
    }

    options.jobs = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(p.jobs)) {
        bool ok = false;
        options.jobs = parser.value(p.jobs).toInt(&ok);
        if (!ok || options.jobs < 1 || options.jobs > 1024)
            return usageError(QString("-j: \u201c%1\u201d is not a thread count from 1 to 1024")
                                  .arg(parser.value(p.jobs)));
    }

    options.format = parser.value(p.format).toLower();
    if (!options.format.isEmpty() &&
        !QImageWriter::supportedImageFormats().contains(options.format.toLatin1()))
        return usageError(
            QString("-f: cannot write the format \u201c%1\u201d").arg(options.format));

    options.output = parser.value(p.output);
    options.outputDir = parser.value(p.outputDir);
    options.overwrite = parser.isSet(p.overwrite);
    options.quiet = parser.isSet(p.quiet);
    options.inputs = parser.positionalArguments();

    if (parser.isSet(p.output) == parser.isSet(p.outputDir))
        return usageError("give exactly one of -o FILE and -d DIR");
    if (parser.isSet(p.output) && options.output.isEmpty())
        return usageError("-o: the output name is empty");
    if (parser.isSet(p.outputDir) && options.outputDir.isEmpty())
        return usageError("-d: the folder name is empty");
    if (parser.isSet(p.output) && options.inputs.size() > 1)
        return usageError("-o takes one input; use -d DIR for several");
    if (options.inputs.count("-") > 0 && parser.isSet(p.outputDir))
        return usageError("standard input has no name to keep; use -o FILE");
    return {options, {}, 0};
}
