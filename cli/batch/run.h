#pragma once

#include "command/options.h"

namespace batch {

// Runs a batch: plans every input, stops if two would write one output,
// renders the jobs in worker processes, reports each failure and a summary;
// returns the program's exit status (0 when every image was rendered).
int run(const command::Options& options);

} // namespace batch
