#include "batch/plan.h"

#include "batch/pathhash.h"
#include "fileio/descriptors.h"
#include "fileio/outputfile.h"
#include "vipsio/availability.h"

#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace batch {

namespace {

using command::BranchChoice;
using command::Input;
using command::Options;

transform::Branch branchFor(const Options& options, const Input& input, std::mt19937_64& engine)
{
    if (options.branch == BranchChoice::Lower)
        return transform::Branch::Lower;
    if (options.branch == BranchChoice::Upper)
        return transform::Branch::Upper;
    if (options.seed)
        return pathhash::branchFor(*options.seed, input.spelling());
    // One fresh uniform draw per input, decided as in a render pass.
    return transform::branchForDraw(std::uniform_real_distribution<float>(0.0f, 1.0f)(engine));
}

bool inThisShard(const Options& options, const Input& input)
{
    return !options.shard ||
           pathhash::shardOf(input.spelling(), options.shard->count) == options.shard->index;
}

Error inputProblem(const Input& input)
{
    struct stat info {};
    if (!input.isFile())
        return {};
    if (::stat(input.path.c_str(), &info) != 0)
        return Error("no such file");
    if (S_ISDIR(info.st_mode))
        return Error("is a folder, not an image file");
    if (S_ISREG(info.st_mode) && info.st_size == 0)
        return Error("is empty (0 bytes)");
    return {};
}

bool existsAsRegularFile(const std::string& path)
{
    return fileio::classify(path) == fileio::Kind::File;
}

// The output format as far as names alone tell it: -f, else the output
// name's suffix, else the input's (the embedded photograph's is PNG).
const formats::Format* formatByName(const RenderJob& job, const Options& options)
{
    if (!options.format.empty())
        return vipsio::writable(options.format, options.allowUntrusted);
    if (!options.output.empty() && !options.toStandardOutput()) {
        if (const auto* named =
                vipsio::writable(formats::suffixOf(options.output), options.allowUntrusted))
            return named;
    }
    switch (job.input.kind) {
    case Input::Kind::EmbeddedPhotograph:
        return vipsio::writable("png", false);
    case Input::Kind::StandardInput:
        return nullptr;
    case Input::Kind::File:
        break;
    }
    return vipsio::writable(formats::suffixOf(job.input.path), options.allowUntrusted);
}

// The format of the output: by name, else the input's own format as its
// first bytes tell it.
const formats::Format* formatFor(const RenderJob& job, const Options& options, Error& refusal)
{
    if (auto byName = formatByName(job, options); byName || !job.input.isFile())
        return byName;
    // Reading a pipe here would take from it what its job needs, or wait
    // for a writer that may never come.
    if (!existsAsRegularFile(job.input.path)) {
        refusal = Error("is not a regular file, so its format shows only once it is read; "
                        "choose the output's with -f or -o");
        return nullptr;
    }
    const auto* byContent = vipsio::writableFormatOfFile(job.input.path, options.allowUntrusted);
    if (!byContent)
        refusal =
            Error("not an image format this program both reads and writes; choose one with -f");
    return byContent;
}

std::string outputPathFor(const RenderJob& job, const Options& options)
{
    if (!options.output.empty())
        return options.output;
    const std::string base =
        job.input.isFile() ? fs::path(job.input.path).stem().string() : "photo";
    // A name whose suffix already names the format keeps it (x.jpeg stays .jpeg).
    const std::string inputSuffix = formats::suffixOf(job.input.path);
    const std::string suffix = formats::named(inputSuffix) == job.format
                                   ? inputSuffix
                                   : std::string(job.format->suffixes.front());
    return (fs::path(options.outputDir) / (base + "." + suffix)).string();
}

// One spelling per file, so that two names of one output are seen as one.
std::string sameFileKey(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return (error ? absolute : canonical).lexically_normal().string();
}

// The inputs, each once: a path given twice is rendered once.
std::vector<Input> distinctInputs(const Options& options)
{
    if (options.inputs.empty())
        return {Input::embeddedPhotograph()};
    std::vector<Input> inputs;
    std::set<std::string> seen;
    for (const Input& input : options.inputs)
        if (seen.insert(input.spelling()).second)
            inputs.push_back(input);
    return inputs;
}

} // namespace

Plan planJobs(const Options& options, const PlanProgress& progress)
{
    std::mt19937_64 engine(std::random_device{}());
    const std::vector<Input> inputs = distinctInputs(options);

    Plan plan;
    std::map<std::string, std::string> writers; // output key -> the input that writes it
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        if (progress)
            progress(n, inputs.size());
        const Input& input = inputs[n];
        RenderJob job;
        job.input = input;
        // Every input is planned, other shards' too, so that every shard
        // refuses exactly the collisions a whole run would.
        job.branch = branchFor(options, input, engine);
        job.refusal = inputProblem(input);
        if (!job.refusal)
            job.format = formatFor(job, options, job.refusal);
        if (!job.refusal)
            job.output = outputPathFor(job, options);
        if (!job.refusal && !fileio::isStreamOutput(job.output)) {
            const auto [writer, added] =
                writers.emplace(sameFileKey(job.output), input.shownName());
            if (!added)
                plan.conflicts.push_back(writer->second + " and " + input.shownName() +
                                         " would both be written to " + job.output);
            if (existsAsRegularFile(job.output)) {
                if (options.skipExisting)
                    job.skip = true;
                else if (!options.overwrite)
                    job.refusal = Error(job.output + " already exists (use -y to replace it)",
                                        Error::Cause::OutputExists);
            }
        }
        if (inThisShard(options, input))
            plan.jobs.push_back(std::move(job));
    }
    return plan;
}

} // namespace batch
