// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/capacity.h"

#include <algorithm>
#include <dirent.h>
#include <sys/resource.h>

namespace workers {

void raiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        (void)::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int processesWithinDescriptorLimit(int wanted)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return wanted;
    int open = 0;
    if (DIR* directory = ::opendir("/proc/self/fd")) {
        while (const dirent* entry = ::readdir(directory))
            open += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(directory);
    }
    // Each job keeps three descriptors here (its answer pipe, its standard
    // error's, the one its end shows on) and two for its files (input and
    // output), and takes four more while it starts; the run keeps some for
    // its own files and its template.
    const long room = long(limit.rlim_cur) - open - 16;
    return int(std::clamp<long>(room / 5, 1, wanted));
}

} // namespace workers
