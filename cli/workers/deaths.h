// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "workers/job.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

// Why a worker died on a job, in the words of what is known: the signal
// that ended it, the last line its libraries wrote, the time limit's kill,
// and a want of memory only where that is known.
namespace workers {

// The reason an allocation under the budget failed.
std::string outOfMemory(std::uint64_t memoryBudget);

// How many processes the kernel's out-of-memory killer has ended in this
// program's memory group so far (0 where the system does not say).
std::uint64_t oomKills();

// The last line of what a job's process wrote to its standard error.
std::string lastLine(const std::string& lastWords);

// The error for a job's process that ended with `status`, having lastWords
// `lastWords` (shown as names are: it may forge lines), and what that left of
// the job's output.
struct Death {
    int status = 0;
    std::string lastWords;
    bool outOfTime = false; // killed for the time limit
    bool oomKilled = false; // the kernel's out-of-memory killer ran meanwhile
    bool answered = false;  // it answered, but did not end
    bool ownGroup = false;  // in a memory group of its own, whose limit is its share
};
Error death(const Death& what, const Limits& limits, const JobPlace& place);

} // namespace workers
