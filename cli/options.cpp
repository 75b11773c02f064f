#include "options.h"

#include "colourmap.h"
#include "formats.h"
#include "inputlist.h"
#include "numbers.h"
#include "runtimeerror.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLocale>

#include <thread>

namespace {

const char* description =
    "Renders images through the inverse logistic colour map: every colour channel v,\n"
    "scaled to [0, 1], becomes one of the two solutions y of a*y*(1-y) = v, the dark\n"
    "lower one or the bright upper one. With no INPUT it renders the embedded photograph.\n"
    "INPUT - reads standard input; -o - writes standard output.\n"
    "\n"
    "Reads JPEG, PNG, TIFF, WebP, GIF, HEIF/AVIF and PPM/PGM/PFM, and with\n"
    "--allow-untrusted what else this build of libvips reads (JPEG XL, JPEG 2000, BMP\n"
    "and more through ImageMagick); writes the formats --list-formats names, chosen by\n"
    "-f or the output's suffix (a suffix naming no such format is a usage error).\n"
    "8- and 16-bit samples keep their depth, float samples (TIFF, PFM) are mapped in\n"
    "floating point with v clamped to [0, 1]. Alpha passes through; greyscale stays\n"
    "greyscale; CMYK becomes sRGB; palette images (GIF, some PNG) become RGB or RGBA.\n"
    "Every frame of an animated GIF or WebP is mapped, with one branch for the file.\n"
    "EXIF (orientation included), ICC profile, XMP and resolution are kept where the\n"
    "output format holds them; pixels are never rotated. Binary PPM and PGM stream\n"
    "through in chunks; a stream of several images (as video tools pipe them) gives\n"
    "one output stream, with one branch for the whole stream.\n"
    "\n"
    "Outputs are written under a temporary name and renamed into place; an existing\n"
    "file is replaced only with -y. Two inputs that would write one output stop the\n"
    "run before anything is written.\n"
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
    QCommandLineOption seed{"seed",
                            "Seed for the random draws. An image's branch then depends on N and "
                            "its path as given, nothing else: every run, order, shard or resumed "
                            "run with the same N renders it the same, on any machine and in any "
                            "version of this program.",
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
                              "Output format (jpeg, png, tiff, webp, gif, ppm, ... or a suffix "
                              "such as jpg); default from the output name, else the input's "
                              "(PNG for the embedded photograph).",
                              "FMT"};
    QCommandLineOption listFormats{"list-formats",
                                   "Print the formats this build reads and writes."};
    QCommandLineOption quality{{"Q", "quality"},
                               "Quality of lossy formats (JPEG, WebP, HEIF, AVIF, JPEG XL, JPEG "
                               "2000), 1 to 100 (default 90). JPEG keeps full-resolution colour "
                               "at 90 and above.",
                               "N",
                               "90"};
    QCommandLineOption compression{"compression", "PNG compression level, 0 to 9 (default 6).",
                                   "N"};
    QCommandLineOption strip{"strip", "Drop metadata (EXIF, ICC profile, XMP) from the outputs."};
    QCommandLineOption maxPixels{"max-pixels",
                                 "Refuse images whose header claims more pixels than N, before "
                                 "decoding (default 1073741824; 0 for no limit).",
                                 "N"};
    QCommandLineOption allowUntrusted{"allow-untrusted",
                                      "Also use the loaders libvips marks as untrusted (its "
                                      "ImageMagick fallback, PDF, SVG, FITS, ...), which are "
                                      "not hardened against hostile files."};
    QCommandLineOption overwrite{{"y", "overwrite"},
                                 "Replace existing output files; without it an existing file is "
                                 "never touched."};
    QCommandLineOption jobs{{"j", "jobs"},
                            "Threads in all (default: the machine's cores): one image uses them "
                            "all, a batch spreads its files over them.",
                            "N"};
    QCommandLineOption filesFrom{"files-from",
                                 "Also render the paths listed in FILE, one a line (- reads "
                                 "standard input).",
                                 "FILE"};
    QCommandLineOption nul{"null", "The --files-from list is NUL-separated (find -print0)."};
    QCommandLineOption shard{"shard",
                             "Render only shard K of N (1 <= K <= N): the inputs whose path, as "
                             "given, hashes to K. N runs with K = 1..N render every input once.",
                             "K/N"};
    QCommandLineOption skipExisting{"skip-existing",
                                    "Count an input whose output already exists as done and "
                                    "leave that file alone (to resume a batch); not with -y."};
    QCommandLineOption quiet{{"q", "quiet"}, "No progress line and no summary."};

    Parser()
    {
        parser.setApplicationDescription(description);
        // Qt's own help option would also list --help-all, "including Qt
        // specific options", of which this program has none; it stays
        // accepted, unlisted, as another name for --help.
        QCommandLineOption helpAll("help-all");
        helpAll.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOptions({{{"h", "help"}, "Displays this help."}, helpAll});
        parser.addVersionOption();
        parser.addOptions({parameter, branch, seed, output, outputDir, format, listFormats, quality,
                           compression, strip, maxPixels, allowUntrusted, overwrite, jobs,
                           filesFrom, nul, shard, skipExisting, quiet});
        parser.addPositionalArgument("INPUT", "Image files to render.", "[INPUT ...]");
    }
};

ParsedCommandLine usageError(const QString& message)
{
    return {std::nullopt,
            QString("%1: %2\nTry '%1 --help' for more information.")
                .arg(QCoreApplication::applicationName(), message)
                .toStdString(),
            2};
}

// An integer option in [low, high]; nothing when the text is not one.
std::optional<qlonglong> integerIn(const QString& text, qlonglong low, qlonglong high)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok);
    if (!ok || value < low || value > high)
        return std::nullopt;
    return value;
}

std::optional<Options::Shard> parseShard(const QString& text)
{
    const QStringList parts = text.split('/');
    if (parts.size() != 2)
        return std::nullopt;
    const auto count = integerIn(parts[1], 1, 1 << 30);
    const auto index = integerIn(parts[0], 1, count.value_or(0));
    if (!count || !index)
        return std::nullopt;
    return Options::Shard{int(*index), int(*count)};
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
    if (parser.isSet("help") || parser.isSet("help-all"))
        return {std::nullopt, helpText().toStdString(), 0};
    if (parser.isSet("version"))
        return {std::nullopt,
                (QCoreApplication::applicationName() + " " + QCoreApplication::applicationVersion())
                    .toStdString(),
                0};
    if (parser.isSet(p.listFormats))
        return {std::nullopt, formats::listing(parser.isSet(p.allowUntrusted)), 0};

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
        const auto jobs = integerIn(parser.value(p.jobs), 1, 1024);
        if (!jobs)
            return usageError(QString("-j: \u201c%1\u201d is not a thread count from 1 to 1024")
                                  .arg(parser.value(p.jobs)));
        options.jobs = int(*jobs);
    }
    const auto quality = integerIn(parser.value(p.quality), 1, 100);
    if (!quality)
        return usageError(QString("-Q: \u201c%1\u201d is not a quality from 1 to 100")
                              .arg(parser.value(p.quality)));
    options.quality = int(*quality);
    if (parser.isSet(p.compression)) {
        const auto level = integerIn(parser.value(p.compression), 0, 9);
        if (!level)
            return usageError(QString("--compression: \u201c%1\u201d is not a level from 0 to 9")
                                  .arg(parser.value(p.compression)));
        options.compression = int(*level);
    }
    if (parser.isSet(p.maxPixels)) {
        bool ok = false;
        options.maxPixels = parser.value(p.maxPixels).toULongLong(&ok);
        if (!ok)
            return usageError(QString("--max-pixels: \u201c%1\u201d is not a non-negative integer")
                                  .arg(parser.value(p.maxPixels)));
    }
    options.strip = parser.isSet(p.strip);
    options.allowUntrusted = parser.isSet(p.allowUntrusted);

    const QString format = parser.value(p.format);
    if (!format.isEmpty()) {
        const auto writable =
            formats::writable(format.toStdString(), parser.isSet(p.allowUntrusted));
        if (!writable)
            return usageError(
                QString("-f: cannot write the format \u201c%1\u201d (see --list-formats)")
                    .arg(format));
        options.format = writable->name;
    }

    options.output = parser.value(p.output).toStdString();
    options.outputDir = parser.value(p.outputDir).toStdString();
    options.overwrite = parser.isSet(p.overwrite);
    options.quiet = parser.isSet(p.quiet);
    options.skipExisting = parser.isSet(p.skipExisting);
    for (const QString& input : parser.positionalArguments())
        options.inputs.push_back(input.toStdString());

    if (parser.isSet(p.shard)) {
        options.shard = parseShard(parser.value(p.shard));
        if (!options.shard)
            return usageError(
                QString("--shard: “%1” is not K/N with 1 <= K <= N").arg(parser.value(p.shard)));
    }
    if (options.overwrite && options.skipExisting)
        return usageError("-y replaces existing outputs and --skip-existing keeps them; give one");
    if (parser.isSet(p.nul) && !parser.isSet(p.filesFrom))
        return usageError("--null describes a --files-from list; give one");
    if (parser.isSet(p.filesFrom)) {
        const std::string list = parser.value(p.filesFrom).toStdString();
        if (list == "-" &&
            std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end())
            return usageError("standard input cannot be both the list and an input");
        const std::string error = readInputList(list, parser.isSet(p.nul), options.inputs);
        if (!error.empty())
            return usageError(QString::fromStdString(error));
        if (options.inputs.empty())
            return usageError(QString::fromStdString("the list " + list + " names no input"));
    }

    if (parser.isSet(p.output) == parser.isSet(p.outputDir))
        return usageError("give exactly one of -o FILE and -d DIR");
    if (parser.isSet(p.output) && options.output.empty())
        return usageError("-o: the output name is empty");
    if (parser.isSet(p.outputDir) && options.outputDir.empty())
        return usageError("-d: the folder name is empty");
    if (parser.isSet(p.output) && options.inputs.size() > 1)
        return usageError("-o takes one input; use -d DIR for several");
    if (parser.isSet(p.outputDir) &&
        std::find(options.inputs.begin(), options.inputs.end(), "-") != options.inputs.end())
        return usageError("standard input has no name to keep; use -o FILE");
    const std::string suffix = formats::suffixOf(options.output);
    if (options.format.empty() && options.output != "-" && !suffix.empty() &&
        !formats::writable(suffix, options.allowUntrusted))
        return usageError(QString("-o: cannot write the format the suffix \u201c.%1\u201d "
                                  "names; choose one with -f (see --list-formats)")
                              .arg(QString::fromStdString(suffix)));
    return {options, {}, 0};
}
