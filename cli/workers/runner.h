// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "outcome.h"
#include "workers/job.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace workers {

// What the batch's loop asks of what runs its jobs: the pool of processes
// (workers/pool.h), or, in the loop's tests, a stand-in that runs them in
// the test's own process.
class Runner {
public:
    virtual ~Runner() = default;

    // Whether a job may start now, and whether any job is running.
    virtual bool hasRoom() const = 0;
    virtual bool running() const = 0;
    // Starts job `index` with the program's descriptors `files` (which stay
    // the caller's); false when it could not start now but may later.
    virtual bool start(std::size_t index, const JobPlace& place, const JobDescriptors& files) = 0;
    // Waits until a job says or does something, `alsoWatch` (if not -1)
    // becomes readable, or a signal arrives; an error is one the run cannot
    // go on after.
    virtual Error waitForWork(int alsoWatch) = 0;

    struct Finished {
        std::size_t index;
        Outcome outcome;
        std::chrono::duration<double> took; // from its start, time stopped included
    };
    // A job that finished, once per job; nothing when none is ready.
    virtual std::optional<Finished> nextFinished() = 0;
    // The running jobs that said how many pictures they have written: the
    // job and the count (a film's progress).
    virtual std::vector<std::pair<std::size_t, std::uint64_t>> pictures() const = 0;
};

} // namespace workers
