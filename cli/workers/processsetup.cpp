// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/processsetup.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace workers::processsetup {

bool dieWithParent(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    return ::getppid() == parent;
}

void defaultSignals()
{
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signal, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

void closeAllBut(std::initializer_list<int> keep)
{
    DIR* directory = ::opendir("/proc/self/fd");
    if (!directory) {
        // Without /proc, every number up to the limit.
        for (int fd = STDERR_FILENO + 1; fd < int(::sysconf(_SC_OPEN_MAX)) && fd < 65536; ++fd)
            if (std::find(keep.begin(), keep.end(), fd) == keep.end())
                ::close(fd);
        return;
    }
    std::vector<int> open;
    while (const dirent* entry = ::readdir(directory))
        if (entry->d_name[0] != '.')
            open.push_back(std::atoi(entry->d_name));
    const int listing = ::dirfd(directory);
    for (const int fd : open)
        if (fd > STDERR_FILENO && fd != listing &&
            std::find(keep.begin(), keep.end(), fd) == keep.end())
            ::close(fd);
    ::closedir(directory);
}

void silenceStandardStreams()
{
    const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
    if (null < 0)
        return;
    ::dup2(null, STDIN_FILENO);
    ::dup2(null, STDOUT_FILENO);
    if (null > STDERR_FILENO)
        ::close(null);
}

void limitResources(std::uint64_t budget, int threads)
{
    // A job needs a few dozen descriptors; pipes are kernel memory.
    const rlimit descriptors{1024, 1024};
    ::setrlimit(RLIMIT_NOFILE, &descriptors);
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer maps terabytes of shadow memory: no limit fits around it.
    (void)budget;
    (void)threads;
#else
    if (budget == 0)
        return;
    ::mallopt(M_ARENA_MAX, 2);
    // statm: size, resident, shared, text, library, data (with the stack).
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%*d %*d %*d %*d %*d %ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    // malloc's two arenas reserve 64 MiB each; a thread's stack is 8 MiB.
    const rlim_t threadRoom = (rlim_t(128) << 20) + rlim_t(threads + 8) * (rlim_t(8) << 20);
    const rlim_t limit =
        rlim_t(pages) * rlim_t(::sysconf(_SC_PAGESIZE)) + threadRoom + rlim_t(budget);
    const rlimit memory{limit, limit};
    ::setrlimit(RLIMIT_DATA, &memory);
#endif
}

} // namespace workers::processsetup
