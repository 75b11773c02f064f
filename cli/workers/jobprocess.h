// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "workers/job.h"
#include "workers/protocol.h"

#include <sys/types.h>

namespace workers {

// A job's own process, forked by the template for that job alone: it takes
// the descriptors the job was sent and no other (standard input and output
// on /dev/null unless the job reads or writes them, standard error into a
// pipe the program reads), limits itself (it is in its template's memory group),
// runs the job, answers and ends. It dies with `parent`, the template.
[[noreturn]] void runJobProcess(pid_t parent, const protocol::JobRequest& request, const Job& job,
                                const Limits& limits);

} // namespace workers
