// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "batch/committer.h"
#include "batch/renderjob.h"
#include "batch/reporter.h"
#include "command/options.h"
#include "error.h"
#include "workers/runner.h"

#include <vector>

namespace batch {

// The batch's loop: starts each job as the runner has room for it (a job
// refused when planned, or whose files cannot be opened, ends at once),
// hands the outputs of those rendered to the committer, and reports each
// job once its output is in place. At a stop signal it starts no more, and
// reports none after. An error is one the run cannot go on after.
Error runJobs(const std::vector<const RenderJob*>& jobs, const command::Options& options,
              Reporter& reporter, workers::Runner& runner, Committer& committer);

// How a job ended, as the reporter tells it.
Finished finishedOf(const RenderJob& job, const command::Options& options, const Outcome& outcome,
                    double seconds);

} // namespace batch
