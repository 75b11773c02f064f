#pragma once

#include "batch/renderjob.h"
#include "batch/workerpool.h"
#include "command/options.h"
#include "outcome.h"

namespace batch {

// Renders one planned job, in the worker process it runs in: its input is
// opened once, and a binary Netpbm stream that stays one goes through the
// program's own reader, anything else through libvips. Whatever the job
// opens is opened before the worker enters its sandbox (unless
// --no-sandbox), which comes before any of the input is parsed. A failure
// leaves no output file created or changed.
// `workers` is how many share --max-memory alike.
Outcome runJob(const RenderJob& job, const command::Options& options, int workers, Given given);

} // namespace batch
