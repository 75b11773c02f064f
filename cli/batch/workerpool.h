#pragma once

#include "outcome.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Jobs run in worker processes, forked from this one once the batch is
// planned: a library that crashes, aborts or runs out of memory on one file
// then fails that file alone, with one line, and the rest of the batch goes
// on in a new worker. Each worker runs one job at a time, so libvips's error
// text (one for the whole process) is always that job's own.
namespace batch {

// What one job may take. Memory: data (heap and private mappings) beyond
// what the worker holds when it starts (0: no limit), with room for the
// stacks of the `threads` that libvips starts; mapped files do not count.
// Time: from when a timed job is sent until its answer (0: no limit); a job
// that takes longer is killed.
struct Limits {
    std::uint64_t memoryBudget = 0;
    int threads = 1;
    std::chrono::milliseconds time{0};
};

// What the program knows of a job before it runs: the folder its output goes
// to (where a worker that dies on it may leave a temporary), whether it
// goes through a pipe, and whether the output is written in place. A job is
// timed until its input and output are open (a FIFO waits for its other
// end); then one through a pipe goes at the pace of the program at the
// pipe's other end, which no time limit judges.
struct JobPlace {
    std::string outputFolder;
    bool throughPipe = false;
    bool writtenInPlace = false; // a stream, which a failed job may leave cut short
};

// What the program opened for a job and sends with it (-1: what the worker
// opens itself): its input; its output, a new file that the program puts
// in place once the job succeeds.
struct Given {
    int input = -1;
    int output = -1;
};

// Raises the soft limit on open descriptors to the hard one. Called once,
// at start.
void raiseDescriptorLimit();

// How many of `wanted` workers the limit on open descriptors leaves room
// for (at least one): each takes five of the program's, with its job's files.
int workersWithinDescriptorLimit(int wanted);

// Tells the program, from a job in its worker, whether the job goes at the
// pace of a pipe's other end from now on (a job through a pipe is then not
// timed) or at its own again (the time limit starts anew). fileio::pace()
// says it in a worker.
void tellPace(bool atTheirs);

// One worker process: it runs job(index, given) for each index it is sent,
// one at a time, within `limits`, and is started on first use and again
// after it dies. It keeps, of the descriptors the program was given, only
// `kept` (one an output names), and the program's copies of those sent
// with a job (over a socket, as the worker may be sandboxed by then).
class Worker {
public:
    using Job = std::function<Outcome(std::size_t index, Given given)>;
    Worker(Job job, Limits limits, int kept);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Sends a job and the descriptors given with it; false when the worker
    // could not take it (receive() then tells why at once). A job that
    // opens its own files goes to a `fresh` worker, one that has run no
    // job (and so is not yet sandboxed).
    bool send(std::size_t index, Given given, bool fresh);
    // Where the job's outcome arrives: readable once receive() will not wait.
    int resultDescriptor() const { return startError_ ? -1 : fromWorker_; }
    // The job's outcome, or nothing when the worker only said at whose pace
    // the job goes now (atTheirPace() then says). A worker that died
    // on it leaves no temporary behind in the job's output folder, and its
    // death is the failure: what killed it, in one line.
    std::optional<Outcome> receive(const JobPlace& place);
    bool atTheirPace() const { return atTheirPace_; }
    // Kills the worker for taking longer than the time limit; receive() then
    // says so, unless its answer came first.
    void stopForTime();

private:
    Error start();
    // Ends a worker that is idle (as its job socket closes) or was killed,
    // and closes what the program held of it.
    void retire();
    // Waits for a worker that was killed or told to end; returns its status.
    int reap();
    Outcome buried(const JobPlace& place);

    Job job_;
    Limits limits_;
    int kept_ = -1;
    bool used_ = false; // it has taken a job since it started
    bool outOfTime_ = false;
    bool atTheirPace_ = false;
    pid_t pid_ = -1;
    int toWorker_ = -1;
    int fromWorker_ = -1;
    int errors_ = -1;                  // the worker's standard error, for the reason it died
    off_t errorsFrom_ = 0;             // where the job's own standard error starts
    std::uint64_t oomKillsBefore_ = 0; // the out-of-memory kills before the job
    Error startError_;
};

// The workers of a batch, driven by the batch's own loop: it starts jobs
// while a worker is free, waits for work, then takes the finished jobs one
// by one. The program stays on one thread while they run: a worker is
// forked from a process with no other thread, so no lock another thread
// held (malloc's, stdio's, GLib's) is copied into it held.
class WorkerPool {
public:
    WorkerPool(const Worker::Job& job, const Limits& limits, int workers, int kept);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Whether a worker is free for a job, and whether any job is running.
    bool hasFreeWorker() const;
    bool running() const;
    // Starts job `index` on a free worker; false when that worker could not
    // start while others run: it is given up, and the job waits for one of
    // them. (When none can run at all, the job fails with why.)
    bool start(std::size_t index, const JobPlace& place, Given given, bool fresh);
    // Waits until a running job finishes, its time runs out, or a signal
    // arrives (then it returns at once, for the loop to look at why). Time
    // the program spent stopped (Ctrl-Z, a scheduler's suspend) counts
    // against no job. An error is one the run cannot go on after.
    Error waitForWork();

    struct Finished {
        std::size_t index;
        Outcome outcome;
        std::chrono::duration<double> took; // from its start, time stopped included
    };
    // A job that finished, once per job; nothing when none is ready.
    std::optional<Finished> nextFinished();

private:
    struct Slot;
    std::vector<std::unique_ptr<Slot>> slots_;
    std::vector<Finished> finished_;
    Limits limits_;
    // When the program last looked at its workers' time.
    std::chrono::steady_clock::time_point lastLooked_{};
};

// Kills every worker (on a signal that stops the program): the jobs under
// way then end, and their temporaries are removed. Safe to call from a
// signal handler.
void killAll();

} // namespace batch
