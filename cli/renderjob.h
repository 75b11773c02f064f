#pragma once

#include "options.h"
#include "planning.h"

#include <string>

// Renders one planned job. Returns an empty string on success, else the
// reason it failed, in one line; then no output file was created or changed.
std::string renderJob(const RenderJob& job, const Options& options);
