#pragma once

#include "batch/workerpool.h"
#include "error.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

// Why a worker died on a job, in the words of what is known: the signal
// that ended it, the last line its libraries wrote, the time limit's kill,
// and a want of memory only where that is known.
namespace batch {

// The reason an allocation under the budget failed.
std::string outOfMemory(std::uint64_t memoryBudget);

// How many processes the kernel's out-of-memory killer has ended in this
// program's memory group so far (0 where the system does not say).
std::uint64_t oomKills();

// The last line a worker wrote to its standard error (kept in `errors`)
// from offset `from` on: what it said during its job.
std::string lastLine(int errors, off_t from);

// The error for a worker that ended with `status` on a job, having said
// `said`, and what that left of the job's output.
struct Death {
    int status = 0;
    std::string said;
    bool outOfTime = false; // killed for the time limit
    bool oomKilled = false; // the kernel's out-of-memory killer ran meanwhile
};
Error death(const Death& what, const Limits& limits, const JobPlace& place);

} // namespace batch
