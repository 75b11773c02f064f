// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/memorygroup.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace workers {

namespace {

// What the running kernel lets be written to a group's file.
bool writeTo(const std::string& path, const std::string& value)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, value.data(), value.size()) == ssize_t(value.size());
    ::close(fd);
    return written;
}

std::string contentsOf(const std::string& path)
{
    std::ifstream file(path);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool listsWord(const std::string& list, std::string_view word)
{
    for (std::size_t at = 0; (at = list.find(word, at)) != std::string::npos; at += word.size())
        if ((at == 0 || list[at - 1] == ' ') &&
            (at + word.size() == list.size() || list[at + word.size()] == ' ' ||
             list[at + word.size()] == '\n'))
            return true;
    return false;
}

// The program's own group in the hierarchy that `line` of /proc/self/cgroup
// names ("0::/path" for v2, "N:memory:/path" for v1's memory), as a folder.
std::optional<std::string> ownGroup(bool v2)
{
    std::ifstream groups("/proc/self/cgroup");
    for (std::string line; std::getline(groups, line);) {
        if (v2 && line.starts_with("0::/")) {
            // Where v1 holds the controllers, v2's hierarchy is mounted beside them.
            for (const char* root : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"})
                if (::access((std::string(root) + "/cgroup.controllers").c_str(), F_OK) == 0)
                    return root + line.substr(3);
            return std::nullopt;
        }
        if (const std::size_t at = line.find(":memory:/"); !v2 && at != std::string::npos)
            return "/sys/fs/cgroup/memory" + line.substr(at + 8);
    }
    return std::nullopt;
}

// Removes the groups that runs of this program left when they were killed.
void removeStale(const std::string& own)
{
    DIR* folder = ::opendir(own.c_str());
    if (!folder)
        return;
    while (const dirent* entry = ::readdir(folder)) {
        unsigned long process = 0;
        int length = 0;
        if (std::sscanf(entry->d_name, "il-%lu%n", &process, &length) != 1 ||
            entry->d_name[length] != '\0' || (::kill(pid_t(process), 0) == 0 || errno != ESRCH))
            continue;
        const std::string run = own + "/" + entry->d_name;
        if (DIR* jobs = ::opendir(run.c_str())) {
            while (const dirent* job = ::readdir(jobs))
                if (std::string_view(job->d_name).starts_with("job-"))
                    ::rmdir((run + "/" + job->d_name).c_str());
            ::closedir(jobs);
        }
        ::rmdir(run.c_str());
    }
    ::closedir(folder);
}

// The run's group beneath `own`, in v2 with the memory and pids
// controllers given to the groups below it.
std::optional<std::string> makeRun(const std::string& own, bool v2)
{
    if (v2) {
        // The program's own group must hand the memory controller down:
        // delegated so, or the root group, where it may be asked.
        if (!listsWord(contentsOf(own + "/cgroup.subtree_control"), "memory"))
            (void)writeTo(own + "/cgroup.subtree_control", "+memory");
        if (!listsWord(contentsOf(own + "/cgroup.subtree_control"), "memory"))
            return std::nullopt;
    }
    removeStale(own);
    const std::string run = own + "/il-" + std::to_string(::getpid());
    if (::mkdir(run.c_str(), 0755) != 0)
        return std::nullopt;
    const bool controlled = !v2 || writeTo(run + "/cgroup.subtree_control", "+memory") ||
                            listsWord(contentsOf(run + "/cgroup.subtree_control"), "memory");
    if (!controlled || ::access((run + "/cgroup.procs").c_str(), W_OK) != 0) {
        ::rmdir(run.c_str());
        return std::nullopt;
    }
    if (v2)
        (void)writeTo(run + "/cgroup.subtree_control", "+pids");
    return run;
}

} // namespace

std::unique_ptr<MemoryGroups> MemoryGroups::make(int count, std::uint64_t bytes, int tasks)
{
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer's shadow memory and quarantine are no decoder's.
    (void)count;
    (void)bytes;
    (void)tasks;
    return nullptr;
#else
    for (const bool v2 : {true, false}) {
        const auto own = ownGroup(v2);
        const auto run = own ? makeRun(*own, v2) : std::nullopt;
        if (!run)
            continue;
        std::unique_ptr<MemoryGroups> groups(new MemoryGroups(*run, v2));
        const std::string limit = std::to_string(bytes);
        for (int group = 0; group < count; ++group) {
            const std::string folder = groups->groupFolder(group);
            const bool made =
                ::mkdir(folder.c_str(), 0755) == 0 &&
                (v2 ? writeTo(folder + "/memory.max", limit) &&
                          (::access((folder + "/memory.swap.max").c_str(), F_OK) != 0 ||
                           writeTo(folder + "/memory.swap.max", "0")) &&
                          (::access((folder + "/pids.max").c_str(), F_OK) != 0 ||
                           writeTo(folder + "/pids.max", std::to_string(tasks)))
                    : writeTo(folder + "/memory.limit_in_bytes", limit) &&
                          (::access((folder + "/memory.memsw.limit_in_bytes").c_str(), F_OK) != 0 ||
                           writeTo(folder + "/memory.memsw.limit_in_bytes", limit)));
            if (!made) {
                ::rmdir(folder.c_str());
                break;
            }
            ++groups->count_;
        }
        if (groups->count_ == count)
            return groups;
    }
    return nullptr;
#endif
}

MemoryGroups::~MemoryGroups()
{
    // A process killed a moment ago may still be leaving its group: it is
    // given a second, then the next run removes what is left.
    for (int group = 0; group < count_; ++group)
        for (int tries = 0;
             ::rmdir(groupFolder(group).c_str()) != 0 && errno == EBUSY && tries < 100; ++tries)
            ::usleep(10'000);
    ::rmdir(run_.c_str());
}

std::string MemoryGroups::groupFolder(int group) const
{
    return run_ + "/job-" + std::to_string(group);
}

std::uint64_t MemoryGroups::oomKills(int group) const
{
    std::ifstream events(groupFolder(group) + (v2_ ? "/memory.events" : "/memory.oom_control"));
    std::string name;
    std::uint64_t value = 0;
    while (events >> name >> value)
        if (name == "oom_kill")
            return value;
    return 0;
}

std::string MemoryGroups::processesOf(int group) const
{
    return groupFolder(group) + "/cgroup.procs";
}

} // namespace workers
