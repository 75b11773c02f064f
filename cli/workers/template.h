#pragma once

#include "error.h"
#include "workers/job.h"
#include "workers/protocol.h"

#include <sys/types.h>
#include <variant>

namespace workers {

// The process every job's process is forked from: forked from the program
// once the costly start-up is done (libvips, its modules, its fonts), it
// holds no job's descriptors and reads no input. Asked for a job, it forks
// a process for it alone (through a process that ends at once, so that the
// job's is the program's child), hands it the job's descriptors, and
// replies with its number.
class Template {
public:
    Template(Job job, Limits limits) : job_(std::move(job)), limits_(limits) {}
    ~Template();
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;

    // Starts the process for `request` (the template first, where it is not
    // running): its number, or why it could not start. The descriptors in
    // `request` stay the caller's.
    std::variant<pid_t, Error> spawn(const protocol::JobRequest& request);
    // Starts the template now, while the program has one thread (a later
    // start, after the template died, copies only the calling thread).
    void startNow() { (void)start(); }

private:
    Error start();
    void stop();

    Job job_;
    Limits limits_;
    pid_t pid_ = -1;
    int socket_ = -1;
};

// Makes the program the parent of every process forked below it that
// outlives its own parent, as the jobs' processes do. Once, before a
// template starts.
Error adoptOrphans();

} // namespace workers
