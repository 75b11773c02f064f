#pragma once

#include "renderjob.h"

#include <vector>

// Renders every job, spread across the option's worker threads: by file
// when there are several, by rows within each image when there are few.
// Reports each failure as one line on standard error, and progress on a
// terminal. Returns the number of jobs that failed.
int runBatch(const std::vector<RenderJob>& jobs, const Options& options);
