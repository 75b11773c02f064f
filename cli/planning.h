#pragma once

#include "colourmap.h"
#include "formats.h"
#include "options.h"

#include <optional>
#include <string>
#include <vector>

// One image to render: where it comes from, where it goes, in which format
// and with which branch. Everything a job needs is decided here, before any
// pixel is read, so that jobs can run in any order on any thread.
struct RenderJob {
    std::string input;     // a path, "-" for standard input, or embeddedInput
    std::string shownName; // how messages name the input
    std::string output;    // a path, or "-" for standard output
    // Empty only for standard input written without -f: then its own format.
    std::optional<formats::OutputFormat> format;
    transform::Branch branch = transform::Branch::Lower;
    std::string refusal; // why planning already refuses this job; empty when it runs
    bool skip = false;   // its output exists and --skip-existing keeps it
};

inline constexpr const char* embeddedInput = ":/photo.bmp";

struct Plan {
    std::vector<RenderJob> jobs;
    // Set when two inputs would be written to one output: then nothing runs.
    std::string conflict;
};

// The jobs for a command line, in input order, this shard's only: every
// output path worked out (collisions are looked for among all the inputs,
// every shard's), existing outputs refused without -y or skipped with
// --skip-existing, and the branch of each input drawn once (from --seed and
// its path when a seed is given).
Plan planJobs(const Options& options);
