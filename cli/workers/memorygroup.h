// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace workers {

// A memory group (cgroup) for each job's process, where the program may
// make them: beneath its own group, in cgroup v2 where the memory
// controller is delegated to it (a Slurm job, a systemd scope, root), or in
// v1's memory hierarchy where it may write there. The group's limit counts
// every byte the job makes the kernel hold: shared memory, the kernel's own
// for its pipes and threads, the page cache it fills, which no limit on a
// process's data counts. One group serves one job at a time, and job after
// job, with the template the jobs are forked from (so that no job's process
// need join it, which costs the kernel a wait): as many are made as jobs
// run at once.
class MemoryGroups {
public:
    // The run's `count` groups, made beneath the program's own, each limited
    // to `bytes` (and, in v2, `tasks` processes and threads); nothing where
    // the program may not make them. Groups that runs killed before they
    // could remove theirs are removed first.
    static std::unique_ptr<MemoryGroups> make(int count, std::uint64_t bytes, int tasks);
    // Removes the groups (their processes must have ended).
    ~MemoryGroups();
    MemoryGroups(const MemoryGroups&) = delete;
    MemoryGroups& operator=(const MemoryGroups&) = delete;

    // Where a process is put to join group `group` (0 to count - 1): its
    // list of processes. A process forked from one in a group is in it.
    std::string processesOf(int group) const;
    // How many processes of the group the kernel's out-of-memory killer has ended.
    std::uint64_t oomKills(int group) const;

    // What -v says of the limit: where the groups are.
    const std::string& folder() const { return run_; }

private:
    MemoryGroups(std::string run, bool v2) : run_(std::move(run)), v2_(v2) {}
    std::string groupFolder(int group) const;

    std::string run_;
    bool v2_;
    int count_ = 0;
};

} // namespace workers
