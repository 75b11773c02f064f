// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batch/renderjob.h"
#include "command/options.h"
#include "outcome.h"
#include "workers/job.h"

namespace batch {

// Renders one planned job, in the process of its own it runs in: its input
// is opened once, and a binary Netpbm stream that stays one goes through
// the program's own reader, anything else through libvips. Whatever the
// job opens is opened before its process enters the sandbox (unless
// --no-sandbox), which comes before any of the input is parsed. A failure
// leaves no output file created or changed. `given`: the files the program
// opened for it; `pace`: told when the job starts or stops going at a
// pipe's pace. `sharers` is how many jobs share --max-memory alike.
Outcome runJob(const RenderJob& job, const command::Options& options, int sharers,
               workers::JobDescriptors given, const workers::Pace& pace);

} // namespace batch
