#pragma once

#include "error.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/types.h>

// Jobs run in worker processes, forked from this one once the batch is
// planned: a library that crashes, aborts or runs out of memory on one file
// then fails that file alone, with one line, and the rest of the batch goes
// on in a new worker. Each worker runs one job at a time, so libvips's error
// text (one for the whole process) is always that job's own.
namespace childprocess {

// Notes the descriptors open at start-up, which workers keep (an output may
// name one, as /proc/self/fd/N); workers close every other. Called once,
// first thing in main().
void noteInheritedDescriptors();

// What one job may take. Memory: address space beyond what the program
// maps when it starts (0: no limit), with room for the stacks of the
// `threads` that libvips starts. Time: from when a timed job is sent until
// its answer (0: no limit); a job that takes longer is killed.
struct Limits {
    std::uint64_t memoryBudget = 0;
    int threads = 1;
    std::chrono::milliseconds time{0};
};

// What the program knows of a job before it runs: the folder its output goes
// to (where a worker that dies on it may leave a temporary), whether the
// time limit applies (not to a stream, whose length is its writer's or its
// reader's), and whether the output is written in place.
struct JobPlace {
    std::string outputFolder;
    bool timed = true;
    bool writtenInPlace = false; // a stream, which a failed job may leave cut short
};

// One worker process: it runs job(index) for each index it is sent, one at
// a time, within `limits`, and is started on first use and again after it
// dies.
class Worker {
public:
    using Job = std::function<Error(std::size_t index)>;
    Worker(Job job, Limits limits);
    ~Worker();
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    // Sends a job; false when the worker could not take it (receive() then
    // tells why at once).
    bool send(std::size_t index);
    // Where the job's outcome arrives: readable once receive() will not wait.
    int resultDescriptor() const { return startError_ ? -1 : fromWorker_; }
    // The job's error. A worker that died on it leaves no temporary behind
    // in the job's output folder, and its death is the error: what killed
    // it, in one line.
    Error receive(const JobPlace& place);
    // Kills the worker for taking longer than the time limit; receive() then
    // says so, unless its answer came first.
    void stopForTime();

private:
    Error start();
    // Waits for a worker that was killed or told to end; returns its status.
    int reap();
    Error buried(const JobPlace& place);

    Job job_;
    Limits limits_;
    bool outOfTime_ = false;
    pid_t pid_ = -1;
    int toWorker_ = -1;
    int fromWorker_ = -1;
    int errors_ = -1; // the worker's standard error, for the reason it died
    Error startError_;
};

// Runs job(0) .. job(count - 1), each once within `limits`, on `workers` workers, and calls
// finished(index, error) as each ends. The program stays on one thread while
// they run: a worker is forked from a process with no other thread, so no
// lock another thread held (malloc's, stdio's, GLib's) is copied into it
// held. Once `stop` says so, no further job starts.
void runJobs(std::size_t count, int workers, const Worker::Job& job, const Limits& limits,
             const std::function<JobPlace(std::size_t)>& placeOf,
             const std::function<void(std::size_t, const Error&)>& finished,
             const std::function<bool()>& stop);

// Kills every worker (on a signal that stops the program): the run() calls
// under way then return, and their temporaries are removed. Safe to call
// from a signal handler.
void killAll();

} // namespace childprocess
