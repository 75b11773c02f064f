// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "colourmap.h"
#include "command/options.h"
#include "fileio/outputfile.h"
#include "formats/formats.h"
#include "outcome.h"

#include <string>
#include <string_view>

// One job's image through libvips (every format but the binary Netpbm
// stream), in order: identify, load, refuse, map, save along the metadata
// route, judge the decoder, commit. What this room offers the rest of the
// program takes and returns no libvips type, and no exception leaves it.
namespace pipeline {

// What rendering one image needs to know beyond the command line's options.
struct ImageJob {
    const command::Options& options;
    transform::Branch branch = transform::Branch::Lower;
    const formats::Format* format = nullptr; // nothing: the input's own
    std::string output;                      // a path, or "-" for standard output
    int memorySharers = 1;                   // the workers that share --max-memory alike
    // Where the rendering is written, opened before any of the input is
    // read (a worker may open nothing once it reads), committed once whole.
    fileio::OutputFile* written = nullptr;
};

// Renders the file open at `fd`, which every reader of the job reads from
// its start (a file, or a stream held in one), whose first bytes the job
// has read once, as `start`. It is decoded once and
// written once: the output is committed, a stream given all of it, only
// when the whole file is written, metadata included, and the decoder's
// warnings are judged.
Outcome renderFile(int fd, std::string_view start, const ImageJob& job);
// Renders the photograph the program embeds.
Outcome renderEmbeddedPhotograph(const ImageJob& job);

} // namespace pipeline
