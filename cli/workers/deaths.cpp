// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/deaths.h"

#include "shownname.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace workers {

namespace {

// The counter `key` in a file of "key value" lines, or 0.
std::uint64_t counter(const std::string& path, const std::string& key)
{
    std::ifstream file(path);
    std::string name;
    std::uint64_t value = 0;
    while (file >> name >> value)
        if (name == key)
            return value;
    return 0;
}

} // namespace

std::string outOfMemory(std::uint64_t memoryBudget)
{
    return "ran out of memory while decoding or encoding it" +
           (memoryBudget == 0 ? std::string()
                              : " (the " + std::to_string(memoryBudget >> 20) +
                                    " MiB it may take of --max-memory)");
}

std::uint64_t oomKills()
{
    // The memory group, as cgroup v2 ("0::/path") or v1 ("N:memory:/path") names it.
    std::ifstream groups("/proc/self/cgroup");
    std::string line;
    while (std::getline(groups, line)) {
        if (line.starts_with("0::"))
            return counter("/sys/fs/cgroup" + line.substr(3) + "/memory.events", "oom_kill");
        if (const std::size_t at = line.find(":memory:"); at != std::string::npos)
            return counter("/sys/fs/cgroup/memory" + line.substr(at + 8) + "/memory.oom_control",
                           "oom_kill");
    }
    return 0;
}

std::string lastLine(const std::string& lastWords)
{
    std::string text = lastWords;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.substr(text.find_last_of('\n') + 1);
}

Error death(const Death& what, const Limits& limits, const JobPlace& place)
{
    const std::string left = place.writtenInPlace
                                 ? "; its output, written in place, may be cut short"
                                 : "; nothing was written";
    if (what.answered)
        return Error("the decoder or encoder answered but did not end, so it was stopped" + left);
    if (what.outOfTime) {
        const auto milliseconds = limits.time.count();
        const std::string limit = milliseconds % 1000 == 0
                                      ? std::to_string(milliseconds / 1000) + " s"
                                      : std::to_string(milliseconds) + " ms";
        return Error("took more than " + limit + " (--time-limit), so it was stopped" + left);
    }
    const bool killed = WIFSIGNALED(what.status) && WTERMSIG(what.status) == SIGKILL;
    // An allocation that failed where the library could only end the
    // program: C++'s, or GLib's, which aborts with a trap.
    if (what.lastWords.find("std::bad_alloc") != std::string::npos ||
        (what.lastWords.find("GLib-ERROR") != std::string::npos &&
         what.lastWords.find("failed to allocate") != std::string::npos))
        return Error(outOfMemory(limits.memoryBudget) + left);
    if (killed && what.oomKilled && what.ownGroup)
        return Error(outOfMemory(limits.memoryBudget) +
                     ", counted with all it made the kernel hold" + left);
    if (killed && what.oomKilled)
        return Error("was stopped by the system's out-of-memory killer" + left);
    std::string how = WIFSIGNALED(what.status)
                          ? (killed ? std::string("was killed (") : std::string("crashed (")) +
                                strsignal(WTERMSIG(what.status)) + ")"
                          : "failed with status " + std::to_string(WEXITSTATUS(what.status));
    if (!what.lastWords.empty())
        how += ": " + shownName(what.lastWords.substr(0, 200));
    return Error("the decoder or encoder " + how + left);
}

} // namespace workers
