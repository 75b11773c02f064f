// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batch/renderjob.h"
#include "batch/walk.h"
#include "command/options.h"
#include "fileio/inputfile.h"

#include <functional>
#include <string>
#include <vector>

namespace batch {

struct Plan {
    std::vector<RenderJob> jobs;
    // Every pair of inputs that would be written to one output: then nothing runs.
    std::vector<std::string> conflicts;
    // The images found in folders given with -r, which jobs point into,
    // the folders that could not be read or held none, and the files passed
    // over (links that lead out of their tree).
    command::InputList found;
    std::vector<Unreadable> unreadable;
    std::vector<Unreadable> passedOver;
};

// Opens an input file: one found with -r through the folder given, never
// by a path that leads out of it (as a link planted since could).
fileio::InputFile openInput(const command::Input& input, fileio::InputFile::Wait wait);

// An output's file name from --name's pattern (empty: "{stem}.{ext}"):
// {stem} is the input's name without its suffix, {suffix} the input's
// suffix as written, {ext} the output's.
std::string outputName(std::string_view pattern, std::string_view stem, std::string_view suffix,
                       std::string_view ext);

// Where a job's rendering goes: -o's path, or in -d's folder the input's
// base name (a file found with -r: its path below the folder given) with
// its format's suffix; one the input's name has already is kept as written
// (x.jpeg stays .jpeg, X.JPG .JPG; the photograph is "photo").
std::string outputOf(const RenderJob& job, const command::Options& options);

// The jobs for a command line, in input order, this shard's only: every
// output path worked out (collisions are looked for among all the inputs,
// every shard's), existing outputs refused without -y or skipped with
// --skip-existing, and the branch of each input drawn once (from --seed and
// its path when a seed is given). A path given twice is planned once.
// `progress`, when given, is told before each input how many are planned.
using PlanProgress = std::function<void(std::size_t planned, std::size_t total)>;
Plan planJobs(const command::Options& options, const PlanProgress& progress = {});

} // namespace batch
