#pragma once

#include "colourmap.h"
#include "options.h"

#include <QString>

#include <vector>

// One image to render: where it comes from, where it goes, with which branch.
struct RenderJob {
    QString input;     // a path, "-" for standard input, or the embedded photograph's resource
    QString shownName; // how messages name the input
    QString output;    // a path or "-"; empty: decided from outputDir once the format is known
    QString outputDir;
    transform::Branch branch;
};

inline constexpr const char* embeddedPhotograph = ":/photo.bmp";

// The jobs for a command line, in input order, each with its branch drawn.
std::vector<RenderJob> planJobs(const Options& options);

// Renders one job. Returns an empty string on success, else the reason it
// failed; then no output file was created or changed.
QString renderJob(const RenderJob& job, const Options& options, int threads);
