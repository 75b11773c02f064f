#pragma once

#include "batch/renderjob.h"
#include "command/options.h"
#include "outcome.h"

namespace batch {

// Renders one planned job, in the worker process it runs in: its input is
// opened once, and a binary Netpbm stream that stays one goes through the
// program's own reader, anything else through libvips. A failure leaves no
// output file created or changed.
// `workers` is how many share --max-memory alike.
Outcome runJob(const RenderJob& job, const command::Options& options, int workers);

} // namespace batch
