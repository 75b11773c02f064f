// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "command/options.h"

#include <cstdio>

namespace batch {

// Runs a batch: plans every input, stops if two would write one output,
// renders the jobs in processes of their own, reports each failure and a
// summary (and, to `json` if not null, each input's end and the summary as
// JSON Lines); returns the program's exit status (Reporter::summarise()).
int run(const command::Options& options, std::FILE* json);

} // namespace batch
