#pragma once

#include "batch/renderjob.h"
#include "command/options.h"

// Renders one planned job: a binary Netpbm stream through the program's own
// reader, anything else through libvips. On failure no output file was
// created or changed. `alone` says no other job runs meanwhile.
Error runJob(const RenderJob& job, const Options& options, bool alone);
