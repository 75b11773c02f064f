// SPDX-License-Identifier: GPL-3.0-or-later
#include "command/parse.h"

#include "colourmap.h"
#include "command/formatcatalogue.h"
#include "command/inputlist.h"
#include "command/optionset.h"
#include "formats/formats.h"
#include "licence.h"
#include "numbers.h"
#include "shownname.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <thread>
#include <unistd.h>

namespace command {

namespace {

// Each reader below takes one group of options into `options`, and returns
// the usage error of the first it cannot take, or nothing.
using UsageError = std::optional<QString>;

QString quoted(const QString& text) { return QString("\u201c%1\u201d").arg(text); }

// Arguments as Qt's parser takes them, and back to the bytes they were.
// A file name need not be UTF-8: a byte that is not is held as the lone
// surrogate U+DC00 + the byte (U+DC80 to U+DCFF), which no UTF-8 text decodes to, so that every
// argument comes back exactly as the system gave it.
QString decodedArgument(std::string_view bytes)
{
    QString text;
    while (!bytes.empty()) {
        if (const std::size_t length = utf8Length(bytes)) {
            text += QString::fromUtf8(bytes.data(), qsizetype(length));
            bytes.remove_prefix(length);
        } else {
            text += QChar(char16_t(0xdc00 + static_cast<unsigned char>(bytes.front())));
            bytes.remove_prefix(1);
        }
    }
    return text;
}

std::string bytesOf(const QString& text)
{
    std::string bytes;
    for (qsizetype at = 0; at < text.size(); ++at) {
        const QChar c = text[at];
        const bool pair =
            c.isHighSurrogate() && at + 1 < text.size() && text[at + 1].isLowSurrogate();
        if (!pair && c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff) {
            bytes += char(c.unicode() - 0xdc00);
            continue;
        }
        bytes += QString(text.constData() + at, pair ? 2 : 1).toStdString();
        at += pair ? 1 : 0;
    }
    return bytes;
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

std::optional<std::uint64_t> unsignedNumber(const QString& text)
{
    bool ok = false;
    const std::uint64_t value = text.toULongLong(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// A size in bytes, or with a K, M or G (KiB, MiB, GiB also) after it.
std::optional<std::uint64_t> parseSize(QString text)
{
    text = text.trimmed().toUpper();
    if (text.endsWith("IB"))
        text.chop(2);
    int shift = 0;
    if (!text.isEmpty() && QString("KMG").contains(text.back())) {
        shift = 10 * int(QString("KMG").indexOf(text.back()) + 1);
        text.chop(1);
    }
    const auto number = unsignedNumber(text);
    if (!number || *number > (std::uint64_t(1) << (63 - shift)))
        return std::nullopt;
    return *number << shift;
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
        float value = 0.0f;
        if (platform::readSingle(text, locale, value) == platform::NumberText::Number)
            return value;
    }
    return std::nullopt;
}

// --sheet's values: a's, separated by commas, with a decimal point (a
// locale's decimal comma would read as a separator); the usage error of
// the first that is none, or below 4, where every value draws what 4 does.
UsageError parseSheet(const QString& text, std::vector<float>& values)
{
    const QStringList parts = text.split(',');
    if (parts.size() > 8)
        return "--sheet: " + quoted(text) + " gives " + QString::number(parts.size()) +
               " values; a sheet shows at most 8";
    for (const QString& part : parts) {
        float value = 0.0f;
        if (platform::readSingle(part.trimmed(), QLocale::c(), value) !=
            platform::NumberText::Number)
            return "--sheet: " + quoted(part.trimmed()) +
                   " is not a value of a; give them as 4,5,6 (with a decimal point: 4.5)";
        if (value < 4.0f)
            return "--sheet: " + quoted(part.trimmed()) +
                   " is below 4, where every value draws what 4 does; start at 4";
        values.push_back(transform::clampParameter(value));
    }
    return std::nullopt;
}

UsageError readMap(const OptionSet& p, Options& options)
{
    const QCommandLineParser& parser = p.parser;
    const auto a = parseParameter(parser.value(p.parameter));
    if (!a)
        return "-a: " + quoted(parser.value(p.parameter)) +
               " is not a number this program takes; give one such as 4, 4.5 or 6 (4 or more: "
               "smaller values count as 4)";
    options.a = transform::clampParameter(*a);

    const QString branch = parser.value(p.branch).toLower();
    if (branch == "lower")
        options.branch = BranchChoice::Lower;
    else if (branch == "upper")
        options.branch = BranchChoice::Upper;
    else if (branch != "random")
        return "--branch: " + quoted(parser.value(p.branch)) + " is not lower, upper or random";

    if (parser.isSet(p.seed) && !(options.seed = unsignedNumber(parser.value(p.seed))))
        return "--seed: " + quoted(parser.value(p.seed)) + " is not a non-negative integer";
    if (parser.isSet(p.passes)) {
        const auto passes = integerIn(parser.value(p.passes), 1, 10000);
        if (!passes)
            return "--passes: " + quoted(parser.value(p.passes)) +
                   " is not a number of passes from 1 to 10000";
        options.passes = int(*passes);
        if (parser.isSet(p.sheet))
            return QString("--passes writes a show and --sheet a contact sheet; give one");
    }
    if (parser.isSet(p.sheet)) {
        if (UsageError error = parseSheet(parser.value(p.sheet), options.sheet))
            return error;
        if (parser.isSet(p.branch))
            return QString("-b chooses the branch of a rendering; a sheet shows both, each "
                           "labelled (drop -b)");
    }
    return std::nullopt;
}

UsageError readEncoding(const OptionSet& p, const FormatCatalogue& formats, Options& options)
{
    const QCommandLineParser& parser = p.parser;
    if (parser.isSet(p.quality) && parser.value(p.quality).toLower() == "keep") {
        options.keepQuality = true;
    } else if (parser.isSet(p.quality)) {
        const auto quality = integerIn(parser.value(p.quality), 1, 100);
        if (!quality)
            return "-Q: " + quoted(parser.value(p.quality)) +
                   " is not a quality from 1 to 100, or keep";
        options.quality = int(*quality);
    }
    if (parser.isSet(p.compression)) {
        const auto level = integerIn(parser.value(p.compression), 0, 9);
        if (!level)
            return "--compression: " + quoted(parser.value(p.compression)) +
                   " is not a level from 0 to 9";
        options.compression = int(*level);
    }
    if (parser.isSet(p.maxPixels)) {
        const auto maxPixels = unsignedNumber(parser.value(p.maxPixels));
        if (!maxPixels)
            return "--max-pixels: " + quoted(parser.value(p.maxPixels)) +
                   " is not a non-negative integer";
        options.maxPixels = *maxPixels;
    }
    options.maxMemory = defaultMemoryBudget();
    if (parser.isSet(p.maxMemory)) {
        const auto maxMemory = parseSize(parser.value(p.maxMemory));
        if (!maxMemory)
            return "--max-memory: " + quoted(parser.value(p.maxMemory)) +
                   " is not a size such as 512M or 2G";
        options.maxMemory = *maxMemory;
    }
    options.pngFilters = parser.isSet(p.pngFilters);
    options.strip = parser.isSet(p.strip);
    options.autorotate = parser.isSet(p.autorotate);
    options.stripIcc = parser.isSet(p.stripIcc);
    options.lossless = parser.isSet(p.lossless);
    options.tiffCompression = parser.value(p.tiffCompression).toLower().toStdString();
    if (parser.isSet(p.tiffCompression) && !formats::tiffCompressionNamed(options.tiffCompression))
        return "--tiff-compression: " + quoted(parser.value(p.tiffCompression)) + " is not " +
               QString::fromStdString(formats::tiffCompressionNames());
    options.salvage = parser.isSet(p.salvage);
    options.allowUntrusted = parser.isSet(p.allowUntrusted);
    options.sandbox = !parser.isSet(p.noSandbox);
    const QString format = parser.value(p.format);
    if (!format.isEmpty()) {
        const auto name = formats.writableName(format.toStdString(), options.allowUntrusted);
        if (!name)
            return "-f: cannot write the format " + quoted(format) + " (see --list-formats)";
        options.format = *name;
    }
    return std::nullopt;
}

UsageError readBatch(const OptionSet& p, Options& options)
{
    const QCommandLineParser& parser = p.parser;
    options.threads = int(std::max(1u, std::thread::hardware_concurrency()));
    if (parser.isSet(p.threads)) {
        const auto threads = integerIn(parser.value(p.threads), 1, 1024);
        if (!threads)
            return "-j: " + quoted(parser.value(p.threads)) +
                   " is not a thread count from 1 to 1024";
        options.threads = int(*threads);
    }
    if (parser.isSet(p.timeLimit)) {
        const auto seconds = integerIn(parser.value(p.timeLimit), 0, 31'536'000);
        if (!seconds)
            return "--time-limit: " + quoted(parser.value(p.timeLimit)) +
                   " is not a number of seconds from 0 (no limit) to 31536000 (a year)";
        options.timeLimit = std::chrono::seconds(*seconds);
    }
    if (parser.isSet(p.shard) && !(options.shard = parseShard(parser.value(p.shard))))
        return "--shard: " + quoted(parser.value(p.shard)) + " is not K/N with 1 <= K <= N";
    options.overwrite = parser.isSet(p.overwrite);
    options.skipExisting = parser.isSet(p.skipExisting);
    options.quiet = parser.isSet(p.quiet);
    options.verbose = parser.isSet(p.verbose);
    options.json = bytesOf(parser.value(p.json));
    if (parser.isSet(p.json) && options.json.empty())
        return QString("--json: the file name is empty (- writes standard output)");
    options.recursive = parser.isSet(p.recursive);
    if (options.overwrite && options.skipExisting)
        return QString("-y replaces existing outputs and --skip-existing keeps them; give one");
    return std::nullopt;
}

UsageError readDestination(const OptionSet& p, const FormatCatalogue& formats, Options& options)
{
    const QCommandLineParser& parser = p.parser;
    if (parser.isSet(p.output) == parser.isSet(p.outputDir))
        return QString("give exactly one of -o FILE and -d DIR");
    options.output = bytesOf(parser.value(p.output));
    options.outputDir = bytesOf(parser.value(p.outputDir));
    options.name = bytesOf(parser.value(p.name));
    if (parser.isSet(p.name)) {
        if (!parser.isSet(p.outputDir))
            return QString("--name names -d's files; -o names its one file itself");
        const QString pattern = parser.value(p.name);
        QString rest = pattern;
        for (const char* field : {"{stem}", "{suffix}", "{ext}"})
            rest.remove(field);
        if (!pattern.contains("{stem}") || rest.contains('/') || rest.contains('{') ||
            rest.contains('}'))
            return "--name: " + quoted(pattern) +
                   " is no pattern of file names: it needs {stem}, may hold {suffix} and {ext}, "
                   "and no other {field} or /";
    }
    if (parser.isSet(p.output) && options.output.empty())
        return QString("-o: the output name is empty");
    if (parser.isSet(p.outputDir) && options.outputDir.empty())
        return QString("-d: the folder name is empty");
    if (options.toStandardOutput() && options.json == standardStream)
        return QString("--json - and -o - would both write standard output; give --json a file");
    const std::string suffix = formats::suffixOf(options.output);
    if (options.format.empty() && !options.toStandardOutput() && !suffix.empty() &&
        !formats.writableName(suffix, options.allowUntrusted))
        return "-o: cannot write the format the suffix " +
               quoted("." + QString::fromStdString(suffix)) +
               " names; choose one with -f (see --list-formats)";
    return std::nullopt;
}

bool readsStandardInput(const Options& options)
{
    return std::any_of(options.inputs.begin(), options.inputs.end(),
                       [](const Input& input) { return input.kind == Input::Kind::StandardInput; });
}

// The inputs, read last: a --files-from list (perhaps standard input) is
// read only once every option is known to be valid.
UsageError readInputs(const OptionSet& p, Options& options)
{
    const QCommandLineParser& parser = p.parser;
    for (const QString& argument : parser.positionalArguments())
        options.inputs.addArgument(bytesOf(argument));
    if (parser.isSet(p.nul) && !parser.isSet(p.filesFrom))
        return QString("--null describes a --files-from list; give one");
    if (parser.isSet(p.filesFrom)) {
        const std::string list = bytesOf(parser.value(p.filesFrom));
        if (list == standardStream && readsStandardInput(options))
            return QString("standard input cannot be both the list and an input");
        std::size_t listed = 0;
        if (const Error error = readInputList(list, parser.isSet(p.nul), options.inputs, listed))
            return QString::fromStdString(error.reason());
        if (listed == 0)
            return QString::fromStdString("the list " + shownName(list) + " names no input");
    }
    if (!options.output.empty() && options.inputs.size() > 1)
        return QString("-o takes one input; use -d DIR for several");
    if (!options.outputDir.empty() && readsStandardInput(options))
        return QString("standard input has no name to keep; use -o FILE");
    return std::nullopt;
}

ParsedCommandLine usageError(const QString& message)
{
    return {std::nullopt,
            QString("%1: %2\nTry '%1 --help' for more information.")
                .arg(QCoreApplication::applicationName(), message)
                .toStdString(),
            2};
}

} // namespace

std::uint64_t defaultMemoryBudget()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGESIZE);
    const std::uint64_t quarter =
        pages > 0 && pageSize > 0 ? std::uint64_t(pages) * std::uint64_t(pageSize) / 4 : 0;
    const std::uint64_t most = std::uint64_t(1) << 30;
    return quarter == 0 ? most : std::min(quarter, most);
}

QString helpText()
{
    OptionSet options;
    // Qt names the program by the path it was started with; the help names it plainly.
    QString text = options.parser.helpText();
    const QString started = QCoreApplication::arguments().value(0);
    if (!started.isEmpty())
        text.replace("Usage: " + started, "Usage: " + QCoreApplication::applicationName());
    return text;
}

ParsedCommandLine parseCommandLine(const std::vector<std::string>& arguments,
                                   const FormatCatalogue& formats)
{
    QStringList decoded;
    for (const std::string& argument : arguments)
        decoded.append(decodedArgument(argument));
    OptionSet p;
    QCommandLineParser& parser = p.parser;
    if (!parser.parse(decoded))
        return usageError(parser.errorText());
    if (parser.isSet("help") || parser.isSet("help-all"))
        return {std::nullopt, helpText().toStdString(), 0};
    if (parser.isSet("version"))
        return {std::nullopt,
                (QCoreApplication::applicationName() + " " +
                 QCoreApplication::applicationVersion() + "\n" + platform::licenceNotice)
                    .toStdString(),
                0};
    if (parser.isSet(p.listFormats))
        return {std::nullopt, formats.listing(parser.isSet(p.allowUntrusted)), 0};

    Options options;
    if (UsageError error = readMap(p, options))
        return usageError(*error);
    if (UsageError error = readEncoding(p, formats, options))
        return usageError(*error);
    if (UsageError error = readBatch(p, options))
        return usageError(*error);
    if (UsageError error = readDestination(p, formats, options))
        return usageError(*error);
    if (const UsageError error = readInputs(p, options))
        return usageError(*error);
    return {std::move(options), {}, 0};
}

} // namespace command
