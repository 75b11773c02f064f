#pragma once

#include "batch/renderjob.h"
#include "command/options.h"

#include <string>
#include <vector>

struct Plan {
    std::vector<RenderJob> jobs;
    // Set when two inputs would be written to one output: then nothing runs.
    Error conflict;
};

// The jobs for a command line, in input order, this shard's only: every
// output path worked out (collisions are looked for among all the inputs,
// every shard's), existing outputs refused without -y or skipped with
// --skip-existing, and the branch of each input drawn once (from --seed and
// its path when a seed is given).
Plan planJobs(const Options& options);
