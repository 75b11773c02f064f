// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "outcome.h"
#include "workers/job.h"
#include "workers/runner.h"
#include "workers/template.h"

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Jobs run in processes of their own, one per job, forked from a template
// process once the batch is planned: a library that crashes, aborts, runs
// out of memory or is taken over on one file then fails that file alone,
// sees no other, and can neither lie about another job nor outlast its own.
namespace workers {

class MemoryGroups;

// The jobs' processes, driven by the batch's own loop: it starts jobs
// while there is room, waits for work, then takes the finished jobs one by
// one. Nothing a job's process sends is believed beyond the protocol: a
// frame that breaks it, an answer late or never followed by the process's
// end, kills that process and fails that job. A job is finished only once
// its process has ended and been reaped, so nothing of it writes any more.
class Pool : public Runner {
public:
    // `now`: the clock the jobs' time is read from (tests move it themselves).
    using Now = std::function<std::chrono::steady_clock::time_point()>;
    Pool(const Job& job, const Limits& limits, int processes,
         Now now = std::chrono::steady_clock::now);
    ~Pool() override;
    Pool(const Pool&) = delete;
    Pool& operator=(const Pool&) = delete;

    // Whether a job may start now, and whether any job is running.
    bool hasRoom() const override;
    bool running() const override;
    // Starts job `index` with the program's descriptors `files` (which stay
    // the caller's); false when no process could start for it while others
    // run: it then waits for one of them, and one fewer runs at a time.
    // (When none runs, the job finishes at once, failed with why.)
    bool start(std::size_t index, const JobPlace& place, const JobDescriptors& files) override;
    // Waits until a job's process says or does something, a job's time
    // runs out, `alsoWatch` (if not -1) becomes readable, or a signal
    // arrives (then it returns at once, for the loop to look at why). Time
    // the program spent stopped (Ctrl-Z, a scheduler's suspend) counts
    // against no job. An error is one the run cannot go on after.
    Error waitForWork(int alsoWatch = -1) override;
    std::optional<Finished> nextFinished() override;
    std::vector<std::pair<std::size_t, std::uint64_t>> pictures() const override;

    // How a job's memory is bounded, as -v says it once.
    std::string memoryBound() const;

private:
    struct Running;
    void service(Running& job, std::chrono::steady_clock::time_point now);
    void finish(Running& job, int status);
    void templateEnded(std::size_t slot);

    Limits limits_;
    Now now_;
    std::unique_ptr<MemoryGroups> groups_;
    // One template for each job that may run at once: in the memory group
    // of the same number, with which its jobs' processes are born.
    struct Slot {
        std::unique_ptr<Template> maker;
        bool busy = false;
        bool givenUp = false; // its template could not start while others ran
    };
    std::vector<Slot> slots_;
    std::vector<std::unique_ptr<Running>> running_;
    std::deque<Template::Ended> ended_;
    std::vector<Finished> finished_;
    // When the program last looked at its jobs' time.
    std::chrono::steady_clock::time_point lastLooked_{};
};

// Kills every job's process and the template (on a signal that stops the
// program). Safe to call from a signal handler.
void killAll();

} // namespace workers
