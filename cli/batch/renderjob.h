#pragma once

#include "colourmap.h"
#include "command/input.h"
#include "error.h"
#include "formats/formats.h"

#include <string>

namespace batch {

// One image to render: where it comes from, where it goes, in which format
// and with which branch. Everything a job needs is decided when the batch is
// planned, before any pixel is read, so that jobs can run in any order.
struct RenderJob {
    command::Input input;
    std::string output; // a path, or "-" for standard output
    // Nothing only for standard input written without -f: then its own format.
    const formats::Format* format = nullptr;
    transform::Branch branch = transform::Branch::Lower;
    Error refusal;     // why planning already refuses this job
    bool skip = false; // its output exists and --skip-existing keeps it
};

} // namespace batch
