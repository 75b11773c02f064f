// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/plan.h"

#include "batch/pathhash.h"
#include "fileio/descriptors.h"
#include "fileio/inputfile.h"
#include "fileio/outputfile.h"
#include "loading/availability.h"
#include "shownname.h"

#include <algorithm>
#include <filesystem>
#include <functional>
#include <numeric>
#include <optional>
#include <random>
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

Error inputProblem(const Input& input, bool recursive)
{
    struct stat info {};
    if (!input.isFile())
        return {};
    if (::stat(input.cPath(), &info) != 0)
        return Error("no such file");
    if (S_ISDIR(info.st_mode))
        return Error(recursive ? "is a folder, whose images -r renders into -d DIR, not -o"
                               : "is a folder, not an image file (-r renders the images in it)");
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
        return loading::writable(options.format, options.allowUntrusted);
    if (!options.output.empty() && !options.toStandardOutput()) {
        if (const auto* named =
                loading::writable(formats::suffixOf(options.output), options.allowUntrusted))
            return named;
    }
    switch (job.input->kind) {
    case Input::Kind::EmbeddedPhotograph:
        return loading::writable("png", false);
    case Input::Kind::StandardInput:
        return nullptr;
    case Input::Kind::File:
        break;
    }
    return loading::writable(formats::suffixOf(job.input->path), options.allowUntrusted);
}

// The format of the output: by name, else the input's own format as its
// first bytes tell it.
const formats::Format* formatFor(const RenderJob& job, const Options& options, Error& refusal)
{
    if (auto byName = formatByName(job, options); byName || !job.input->isFile())
        return byName;
    // Reading a pipe here would take from it what its job needs, or wait
    // for a writer that may never come.
    if (!existsAsRegularFile(std::string(job.input->path))) {
        refusal = Error("is not a regular file, so its format shows only once it is read; "
                        "choose the output's with -f or -o");
        return nullptr;
    }
    // Its first bytes, not a loader: no decoder runs in the program itself.
    // Opened without waiting: a FIFO put in its place meanwhile is no file.
    const fileio::InputFile input = openInput(*job.input, fileio::InputFile::Wait::No);
    const std::string start = input.openError() || input.kind() != fileio::Kind::File
                                  ? std::string()
                                  : fileio::firstBytes(input.descriptor(), 16);
    const auto* byContent = loading::writable(formats::byMagic(start), options.allowUntrusted);
    if (!byContent)
        refusal = formats::isRaw(job.input->path, start)
                      ? Error("a raw file; develop it first")
                      : Error("not an image format this program both reads and writes; "
                              "choose one with -f");
    return byContent;
}

// One spelling per file, so that two names of one output are seen as one.
std::string sameFileKey(const std::string& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    return (error ? absolute : canonical).lexically_normal().string();
}

bool isFolder(const Input& input)
{
    struct stat info {};
    return input.isFile() && ::stat(input.cPath(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The inputs in their order, a folder given with -r (and -d) standing for
// the images found in its tree, which go to `plan.found`.
std::vector<const Input*> inputsAndTrees(const Options& options, Plan& plan)
{
    static const Input photograph = Input::embeddedPhotograph();
    if (options.inputs.empty())
        return {&photograph};
    const bool walks = options.recursive && !options.outputDir.empty();
    // The output folders, where they exist already, are no inputs: -d's own,
    // and where each folder walked is rendered to, under its name.
    std::vector<std::pair<dev_t, ino_t>> outputFolders;
    const auto noteFolder = [&outputFolders](const fs::path& folder) {
        if (struct stat info{}; ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
            outputFolders.emplace_back(info.st_dev, info.st_ino);
    };
    if (walks) {
        noteFolder(options.outputDir);
        for (const Input& input : options.inputs)
            noteFolder(fs::path(options.outputDir) / fs::path(std::string(input.path)).filename());
    }
    // Each input's first image among those found, and past its last: all
    // are found before any is pointed to, as the list moves as it grows.
    std::vector<std::pair<std::size_t, std::size_t>> trees(options.inputs.size());
    for (std::size_t n = 0; n < options.inputs.size(); ++n) {
        trees[n].first = plan.found.size();
        if (walks && isFolder(options.inputs[n])) {
            const std::size_t unreadable = plan.unreadable.size();
            walkFolder(options.inputs[n].path,
                       {outputFolders, plan.found, plan.unreadable, plan.passedOver});
            if (plan.found.size() == trees[n].first && plan.unreadable.size() == unreadable)
                plan.unreadable.push_back({std::string(options.inputs[n].path),
                                           Error("holds no image this program reads")});
        }
        trees[n].second = plan.found.size();
    }
    std::vector<const Input*> inputs;
    inputs.reserve(options.inputs.size() + plan.found.size());
    for (std::size_t n = 0; n < options.inputs.size(); ++n) {
        if (walks && isFolder(options.inputs[n]))
            for (std::size_t f = trees[n].first; f < trees[n].second; ++f)
                inputs.push_back(&plan.found[f]);
        else
            inputs.push_back(&options.inputs[n]);
    }
    return inputs;
}

// The inputs, each once and in their order: a path given twice is
// rendered once. (No copies: a batch may list millions.)
std::vector<const Input*> distinctInputs(const Options& options, Plan& plan)
{
    const std::vector<const Input*> all = inputsAndTrees(options, plan);
    std::vector<std::uint32_t> order(all.size());
    std::iota(order.begin(), order.end(), 0);
    const auto spelling = [&all](std::uint32_t n) { return all[n]->spelling(); };
    std::stable_sort(order.begin(), order.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return spelling(a) < spelling(b); });
    std::vector<bool> again(order.size(), false);
    for (std::size_t n = 1; n < order.size(); ++n)
        again[order[n]] = spelling(order[n]) == spelling(order[n - 1]);
    std::vector<const Input*> inputs;
    for (std::size_t n = 0; n < all.size(); ++n)
        if (!again[n])
            inputs.push_back(all[n]);
    return inputs;
}

// Each output written by two inputs, as the line that names them: found
// among the hashes of the outputs' one spelling, which take little room
// for any number of inputs, then told by the spellings themselves.
struct Written {
    std::uint64_t key; // the hash of the output's one spelling
    std::uint32_t input;
    const formats::Format* format;

    bool operator<(const Written& other) const
    {
        return key != other.key ? key < other.key : input < other.input;
    }
};

// The folder a found file's walk started from, as given.
std::string_view walkedFrom(const Input& input)
{
    std::string_view top = input.path.substr(0, input.below);
    while (top.size() > 1 && top.back() == '/')
        top.remove_suffix(1);
    return top;
}

// What would have kept two inputs' outputs apart.
std::string keepApart(const Input& first, const Input& second, const Options& options)
{
    if (first.below > 0 && second.below > 0) {
        const auto above = [](const Input& input) {
            const std::string folder = fs::path(walkedFrom(input)).parent_path().string();
            return shownName(folder.empty() ? std::string(".") : folder);
        };
        return "give the folders above them with -r, as -r -d " + shownName(options.outputDir) +
               " " + above(first) + " " + above(second) + ", to keep them apart";
    }
    if (fs::path(first.path).parent_path() != fs::path(second.path).parent_path())
        return "give their folders with -r, so that each keeps its own, or render them in two runs";
    return "their names differ only in their suffix; keep it in the outputs' names with --name "
           "'{stem}.{suffix}.{ext}'";
}

std::vector<std::string> conflictsAmong(std::vector<Written> written,
                                        const std::vector<const Input*>& inputs,
                                        const Options& options)
{
    std::sort(written.begin(), written.end());
    std::vector<std::pair<std::uint32_t, std::string>> found; // the later input, the line
    const auto output = [&](const Written& entry) {
        RenderJob job;
        job.input = inputs[entry.input];
        job.format = entry.format;
        return outputOf(job, options);
    };
    for (std::size_t at = 1; at < written.size(); ++at) {
        // The first of the run of equal hashes whose output is the same file.
        for (std::size_t first = at; first-- > 0 && written[first].key == written[at].key;) {
            const std::string path = output(written[at]);
            if (sameFileKey(output(written[first])) != sameFileKey(path))
                continue;
            const Input& one = *inputs[written[first].input];
            const Input& other = *inputs[written[at].input];
            found.emplace_back(written[at].input, one.shownName() + " and " + other.shownName() +
                                                      " would both be written to " +
                                                      shownName(path) + "; nothing was rendered (" +
                                                      keepApart(one, other, options) + ")");
            break;
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> lines;
    lines.reserve(found.size());
    for (auto& [later, line] : found)
        lines.push_back(std::move(line));
    return lines;
}

} // namespace

std::string outputName(std::string_view pattern, std::string_view stem, std::string_view suffix,
                       std::string_view ext)
{
    if (pattern.empty())
        pattern = "{stem}.{ext}";
    std::string name;
    for (std::size_t at = 0; at < pattern.size();) {
        const auto field = [&](std::string_view key) {
            return pattern.substr(at).starts_with(key);
        };
        if (field("{stem}")) {
            name += stem;
            at += 6;
        } else if (field("{suffix}")) {
            name += suffix;
            at += 8;
        } else if (field("{ext}")) {
            name += ext;
            at += 5;
        } else {
            name += pattern[at++];
        }
    }
    return name;
}

fileio::InputFile openInput(const Input& input, fileio::InputFile::Wait wait)
{
    if (input.below == 0)
        return fileio::InputFile(std::string(input.path), wait);
    return {std::string(input.path.substr(0, input.below)),
            std::string(input.path.substr(input.below)), wait};
}

std::string outputOf(const RenderJob& job, const Options& options)
{
    if (!options.output.empty())
        return options.output;
    const std::string_view path = job.input->isFile() ? job.input->path : std::string_view();
    // A file found with -r keeps its folder's name and its path below it.
    const fs::path kept = job.input->below > 0
                              ? fs::path(path.substr(job.input->keptFrom)).parent_path()
                              : fs::path();
    const std::string stem = job.input->isFile() ? fs::path(path).stem().string() : "photo";
    // A name whose suffix already names the format keeps it as written
    // (x.jpeg stays .jpeg, X.JPG .JPG), so that files beside it still match.
    const std::string inputSuffix = fs::path(path).extension().string();
    const std::string suffix =
        job.format && !inputSuffix.empty() && formats::named(inputSuffix.substr(1)) == job.format
            ? inputSuffix.substr(1)
            : std::string(job.format ? job.format->suffixes.front() : "");
    // A sheet is named so that it cannot be taken for a rendering.
    const std::string name =
        options.sheet.empty() ? outputName(options.name, stem,
                                           inputSuffix.empty() ? "" : inputSuffix.substr(1), suffix)
                              : stem + "-sheet." + suffix;
    return (fs::path(options.outputDir) / kept / name).string();
}

Plan planJobs(const Options& options, const PlanProgress& progress)
{
    std::mt19937_64 engine(std::random_device{}());
    Plan plan;
    const std::vector<const Input*> inputs = distinctInputs(options, plan);

    if (!options.shard)
        plan.jobs.reserve(inputs.size());
    std::vector<Written> written;
    written.reserve(inputs.size());
    for (std::size_t n = 0; n < inputs.size(); ++n) {
        if (progress)
            progress(n, inputs.size());
        const Input& input = *inputs[n];
        RenderJob job;
        job.input = &input;
        // Every input is planned, other shards' too, so that every shard
        // refuses exactly the collisions a whole run would.
        job.branch = branchFor(options, input, engine);
        if (options.passes > 0)
            job.passDraws =
                options.seed ? pathhash::passDrawsFor(*options.seed, input.spelling()) : engine();
        Error refusal = inputProblem(input, options.recursive);
        if (!refusal)
            job.format = formatFor(job, options, refusal);
        const std::string output = refusal ? std::string() : outputOf(job, options);
        // A stream is written in place only where the user named it (-o): a
        // folder's outputs replace only files.
        const bool stream = !refusal && fileio::isStreamOutput(output);
        if (stream && options.output.empty())
            refusal = Error("cannot write " + shownName(output) +
                            ": it is no regular file, and only a file named with -o is "
                            "written in place");
        if (!refusal && !stream) {
            written.push_back(
                {std::hash<std::string>()(sameFileKey(output)), std::uint32_t(n), job.format});
            if (existsAsRegularFile(output)) {
                if (options.skipExisting)
                    job.skip = true;
                else if (!options.overwrite)
                    refusal = Error::exists(shownName(output));
            }
        }
        job.refusal = std::move(refusal);
        if (inThisShard(options, input))
            plan.jobs.push_back(std::move(job));
    }
    plan.conflicts = conflictsAmong(std::move(written), inputs, options);
    return plan;
}

} // namespace batch
