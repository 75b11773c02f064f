// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "error.h"
#include "workers/job.h"
#include "workers/protocol.h"

#include <deque>
#include <string>
#include <sys/types.h>
#include <variant>

namespace workers {

// The process every job's process is forked from: forked from the program
// once the costly start-up is done (libvips, its modules, its fonts), it
// holds no job's descriptors and reads no input. Asked for a job, it forks
// a process for it alone, hands it the job's descriptors, and tells the
// program that it started (with a descriptor of it, to kill it by) and,
// once it reaped it, how it ended. The job's process dies with it, and it
// with the program.
class Template {
public:
    // `group`: where the template is put as it starts (a memory group's list
    // of processes, which every job's process forked from it is in too);
    // empty: nowhere.
    Template(Job job, Limits limits, std::string group = {})
        : job_(std::move(job)), limits_(limits), group_(std::move(group))
    {
    }
    ~Template();
    Template(const Template&) = delete;
    Template& operator=(const Template&) = delete;

    // Starts the template now, while the program has one thread (a later
    // start, after the template died, copies only the calling thread).
    void startNow() { (void)start(); }

    // Starts the process for `request` (the template first, where it is not
    // running): a descriptor of it (a pidfd), or why it could not start.
    // The descriptors in `request` stay the caller's.
    std::variant<int, Error> spawn(const protocol::JobRequest& request);

    // Readable when news of the jobs' processes waits (-1: no template).
    int descriptor() const { return socket_; }
    // The jobs whose process ended since asked, with their wait status;
    // false once the template itself ended, taking every running job's
    // process with it (it is started again for the next job).
    struct Ended {
        std::uint64_t job;
        int status;
    };
    bool takeEnded(std::deque<Ended>& into);

private:
    Error start();
    void stop();
    // Reads one piece of news; false once the template ended.
    bool read();

    Job job_;
    Limits limits_;
    std::string group_;
    pid_t pid_ = -1;
    int socket_ = -1;
    std::deque<Ended> ended_;
    std::optional<protocol::ProcessNews> started_;
};

} // namespace workers
