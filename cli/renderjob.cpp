#include "renderjob.h"

#include "netpbm.h"
#include "qtimage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdio>
#include <memory>
#include <random>

namespace {

transform::Branch drawBranch(std::mt19937_64& engine)
{
    // One uniform draw per image, decided as in a render pass.
    return transform::branchForDraw(std::uniform_real_distribution<float>(0.0f, 1.0f)(engine));
}

bool writable(const QString& format)
{
    return !format.isEmpty() && QImageWriter::supportedImageFormats().contains(format.toLatin1());
}

// The output format: -f, else the output name's suffix, else the input's
// own format (its suffix, or what its first bytes say).
QString outputFormat(const RenderJob& job, const Options& options, QIODevice& input)
{
    if (!options.format.isEmpty())
        return options.format;
    QString outputSuffix = QFileInfo(job.output).suffix().toLower();
    if (job.output != "-" && writable(outputSuffix))
        return outputSuffix;
    QString inputSuffix = QFileInfo(job.input).suffix().toLower();
    if (writable(inputSuffix))
        return inputSuffix;
    const char kind = netpbm::binaryKind(input);
    if (kind)
        return netpbm::formatFor(kind);
    return QString::fromLatin1(QImageReader::imageFormat(&input));
}

QString outputPath(const RenderJob& job, const QString& format)
{
    if (!job.output.isEmpty())
        return job.output;
    const QString base =
        job.input == embeddedPhotograph ? "photo" : QFileInfo(job.input).completeBaseName();
    return QDir(job.outputDir).filePath(base + "." + format);
}

std::unique_ptr<QIODevice> openInput(const QString& path, QString& error)
{
    auto file = std::make_unique<QFile>();
    if (path == "-") {
        if (!file->open(stdin, QIODevice::ReadOnly))
            error = "cannot read standard input: " + file->errorString();
        return file;
    }
    const QFileInfo info(path);
    if (!path.startsWith(":/")) {
        if (!info.exists())
            error = "no such file";
        else if (info.isDir())
            error = "is a folder, not an image file";
        else if (info.size() == 0)
            error = "is empty (0 bytes)";
        if (!error.isEmpty())
            return file;
    }
    file->setFileName(path);
    if (!file->open(QIODevice::ReadOnly))
        error = "cannot open: " + file->errorString();
    return file;
}

} // namespace

std::vector<RenderJob> planJobs(const Options& options)
{
    std::mt19937_64 engine;
    if (options.seed)
        engine.seed(*options.seed);
    else
        engine.seed(std::random_device{}());

    const QStringList inputs =
        options.inputs.isEmpty() ? QStringList{embeddedPhotograph} : options.inputs;
    std::vector<RenderJob> jobs;
    for (const QString& input : inputs) {
        const QString shown = input == embeddedPhotograph ? QString("the embedded photograph")
                              : input == "-"              ? QString("standard input")
                                                          : input;
        const transform::Branch branch =
            options.branch == BranchChoice::Lower   ? transform::Branch::Lower
            : options.branch == BranchChoice::Upper ? transform::Branch::Upper
                                                    : drawBranch(engine);
        jobs.push_back({input, shown, options.output, options.outputDir, branch});
    }
    return jobs;
}

QString renderJob(const RenderJob& job, const Options& options, int threads)
{
    QString error;
    const auto input = openInput(job.input, error);
    if (!error.isEmpty())
        return error;

    const QString format = outputFormat(job, options, *input);
    if (!writable(format))
        return format.isEmpty() ? "not an image format this program reads"
                                : "cannot write the format " + format + "; choose one with -f";
    const QString path = outputPath(job, format);
    if (path != "-" && QFileInfo::exists(path) && !options.overwrite)
        return path + " already exists (use -y to replace it)";

    std::unique_ptr<QIODevice> output;
    if (path == "-") {
        auto out = std::make_unique<QFile>();
        if (!out->open(stdout, QIODevice::WriteOnly))
            return "cannot write standard output: " + out->errorString();
        output = std::move(out);
    } else {
        auto out = std::make_unique<QSaveFile>(path);
        if (!out->open(QIODevice::WriteOnly))
            return "cannot write " + path + ": " + out->errorString();
        output = std::move(out);
    }

    const char kind = netpbm::binaryKind(*input);
    error =
        kind && format == netpbm::formatFor(kind)
            ? netpbm::render(*input, *output, options.a, job.branch, threads)
            : qtimage::render(*input, *output, format.toLatin1(), options.a, job.branch, threads);
    if (!error.isEmpty())
        return error;
    if (auto* saveFile = qobject_cast<QSaveFile*>(output.get()); saveFile && !saveFile->commit())
        return "cannot write " + path + ": " + saveFile->errorString();
    return {};
}
