// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"
#include "command/input.h"
#include "error.h"
#include "formats/formats.h"

namespace batch {

// One image to render: where it comes from, in which format and with which
// branch (where it goes follows from these and the options: outputOf).
// Everything a job needs is decided when the batch is planned, before any
// pixel is read, so that jobs can run in any order. Small, since a batch
// may hold millions.
struct RenderJob {
    const command::Input* input = nullptr; // one of the options' inputs, or the photograph
    // Nothing only for standard input written without -f: then its own format.
    const formats::Format* format = nullptr;
    transform::Branch branch = transform::Branch::Lower;
    std::uint64_t passDraws = 0; // with --passes: where each pass's draw comes from
    bool skip = false;           // its output exists and --skip-existing keeps it
    Error refusal;               // why planning already refuses this job
};

} // namespace batch
