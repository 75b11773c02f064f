#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>

namespace workers {

// A memory group (cgroup) for each job's process, where the program may
// make them: beneath its own group, in cgroup v2 where the memory
// controller is delegated to it (a Slurm job, a systemd scope, root), or in
// v1's memory hierarchy where it may write there. The group's limit counts
// every byte the job makes the kernel hold: shared memory, the kernel's own
// for its pipes and threads, the page cache it fills, which no limit on a
// process's data counts.
class MemoryGroups {
public:
    // The run's group, made beneath the program's own; nothing where the
    // program may not make one. Groups that runs killed before they could
    // remove theirs are removed first.
    static std::unique_ptr<MemoryGroups> make();
    ~MemoryGroups();
    MemoryGroups(const MemoryGroups&) = delete;
    MemoryGroups& operator=(const MemoryGroups&) = delete;

    // One job's group, limited to `bytes` (and, in v2, `tasks` processes and
    // threads). `procs`: its list of processes, open for writing, which the
    // job's process writes "0" to, to join it.
    struct Job {
        std::string folder;
        int procs = -1;
    };
    std::optional<Job> forJob(std::uint64_t job, std::uint64_t bytes, int tasks);
    // Whether the kernel's out-of-memory killer ended a process of the job's
    // group; then the group is removed (its process must have been reaped).
    bool oomKilled(const Job& job) const;
    void remove(Job& job) const;

    // What -v says of the limit: where the groups are.
    const std::string& folder() const { return run_; }

private:
    MemoryGroups(std::string run, bool v2) : run_(std::move(run)), v2_(v2) {}

    std::string run_;
    bool v2_;
};

} // namespace workers
