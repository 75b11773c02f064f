#pragma once

#include "batch/renderjob.h"
#include "command/options.h"

// Renders one planned job: a binary Netpbm stream through the program's own
// reader, anything else through libvips. On failure no output file was
// created or changed. The job runs in a process of its own (see
// childprocess.h), so libvips's error text is this job's alone.
Error runJob(const RenderJob& job, const Options& options);
