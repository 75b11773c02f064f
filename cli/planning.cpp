#include "planning.h"

#include "pathhash.h"

#include <filesystem>
#include <map>
#include <random>
#include <sys/stat.h>

namespace fs = std::filesystem;

namespace {

transform::Branch branchFor(const Options& options, const std::string& input,
                            std::mt19937_64& engine)
{
    if (options.branch == BranchChoice::Lower)
        return transform::Branch::Lower;
    if (options.branch == BranchChoice::Upper)
        return transform::Branch::Upper;
    if (options.seed)
        return pathhash::branchFor(*options.seed, input);
    // One fresh uniform draw per input, decided as in a render pass.
    return transform::branchForDraw(std::uniform_real_distribution<float>(0.0f, 1.0f)(engine));
}

bool inThisShard(const Options& options, const std::string& input)
{
    return !options.shard || pathhash::shardOf(input, options.shard->count) == options.shard->index;
}

std::string inputProblem(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return "no such file";
    if (S_ISDIR(info.st_mode))
        return "is a folder, not an image file";
    if (S_ISREG(info.st_mode) && info.st_size == 0)
        return "is empty (0 bytes)";
    return {};
}

// The output format as far as names alone tell it: -f, else the output
// name's suffix, else the input's (the embedded photograph's is PNG).
std::optional<formats::OutputFormat> formatByName(const RenderJob& job, const Options& options)
{
    if (!options.format.empty())
        return formats::writable(options.format, options.allowUntrusted);
    if (!options.output.empty() && options.output != "-") {
        if (auto named =
                formats::writable(formats::suffixOf(options.output), options.allowUntrusted))
            return named;
    }
    if (job.input == embeddedInput)
        return formats::writable("png", false);
    if (job.input == "-")
        return std::nullopt;
    return formats::writable(formats::suffixOf(job.input), options.allowUntrusted);
}

// The format of the output: by name, else the input's own format as its
// first bytes tell it.
std::optional<formats::OutputFormat> formatFor(const RenderJob& job, const Options& options,
                                               std::string& refusal)
{
    if (auto byName = formatByName(job, options); byName || job.input == "-")
        return byName;
    auto byContent = formats::ofFile(job.input, options.allowUntrusted);
    if (!byContent)
        refusal = "not an image format this program both reads and writes; choose one with -f";
    return byContent;
}

std::string outputPathFor(const RenderJob& job, const Options& options)
{
    if (!options.output.empty())
        return options.output;
    const std::string base =
        job.input == embeddedInput ? "photo" : fs::path(job.input).stem().string();
    // A name whose suffix already names the format keeps it (x.jpeg stays .jpeg).
    const std::string inputSuffix = formats::suffixOf(job.input);
    const auto sameFormat = formats::writable(inputSuffix, options.allowUntrusted);
    const std::string suffix = sameFormat && job.format && sameFormat->name == job.format->name
                                   ? inputSuffix
                                   : job.format->suffix;
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

bool existsAsRegularFile(const std::string& path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

} // namespace

Plan planJobs(const Options& options)
{
    std::mt19937_64 engine(std::random_device{}());
    const std::vector<std::string> inputs =
        options.inputs.empty() ? std::vector<std::string>{embeddedInput} : options.inputs;

    Plan plan;
    std::map<std::string, std::string> writers; // output key -> the input that writes it
    for (const std::string& input : inputs) {
        RenderJob job;
        job.input = input;
        job.shownName = input == embeddedInput ? "the embedded photograph"
                        : input == "-"         ? "standard input"
                                               : input;
        // Every input is planned, other shards' too, so that every shard
        // refuses exactly the collisions a whole run would.
        job.branch = branchFor(options, input, engine);
        if (input != "-" && input != embeddedInput)
            job.refusal = inputProblem(input);
        if (job.refusal.empty())
            job.format = formatFor(job, options, job.refusal);
        if (job.refusal.empty())
            job.output = outputPathFor(job, options);
        if (job.refusal.empty() && job.output != "-") {
            const auto [writer, added] = writers.emplace(sameFileKey(job.output), job.shownName);
            if (!added && plan.conflict.empty())
                plan.conflict = writer->second + " and " + job.shownName +
                                " would both be written to " + job.output +
                                "; nothing was rendered";
            if (existsAsRegularFile(job.output)) {
                if (options.skipExisting)
                    job.skip = true;
                else if (!options.overwrite)
                    job.refusal = job.output + " already exists (use -y to replace it)";
            }
        }
        if (inThisShard(options, input))
            plan.jobs.push_back(std::move(job));
    }
    return plan;
}
