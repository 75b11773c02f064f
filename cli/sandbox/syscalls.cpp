// SPDX-License-Identifier: GPL-3.0-or-later
#include "sandbox/syscalls.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/prctl.h>
#include <memory>
#include <sched.h>
#include <seccomp.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

namespace sandbox::syscalls {

namespace {

using Filter = std::unique_ptr<void, decltype(&seccomp_release)>;

// Calls on what the worker holds (its descriptors, its memory, its
// threads, its signals, the time), nothing by path and nothing that
// reaches another process, the network or a program.
constexpr int allowed[] = {
    // Reading the input, writing the output and the answers, on descriptors
    // it holds; jobs arrive with theirs attached (recvmsg).
    SCMP_SYS(read),
    SCMP_SYS(readv),
    SCMP_SYS(pread64),
    SCMP_SYS(preadv),
    SCMP_SYS(write),
    SCMP_SYS(writev),
    SCMP_SYS(pwrite64),
    SCMP_SYS(pwritev),
    SCMP_SYS(lseek),
    SCMP_SYS(close),
    SCMP_SYS(fstat),
    SCMP_SYS(fstatfs),
    SCMP_SYS(dup),
    SCMP_SYS(recvmsg),
    SCMP_SYS(ftruncate),
    SCMP_SYS(fallocate),
    SCMP_SYS(fadvise64),
    SCMP_SYS(fsync),
    SCMP_SYS(fdatasync),
    SCMP_SYS(sync_file_range),
    SCMP_SYS(flock),
    SCMP_SYS(poll),
    SCMP_SYS(ppoll),
    // Memory (mmap below).
    SCMP_SYS(munmap),
    SCMP_SYS(mprotect),
    SCMP_SYS(mremap),
    SCMP_SYS(madvise),
    SCMP_SYS(brk),
    SCMP_SYS(mincore),
    SCMP_SYS(get_mempolicy),
    SCMP_SYS(set_mempolicy),
    // Threads (clone below) and their locks, wake-ups and scheduling.
    SCMP_SYS(futex),
    SCMP_SYS(set_robust_list),
    SCMP_SYS(get_robust_list),
    SCMP_SYS(rseq),
    SCMP_SYS(set_tid_address),
    SCMP_SYS(exit),
    SCMP_SYS(exit_group),
    SCMP_SYS(gettid),
    SCMP_SYS(getpid),
    SCMP_SYS(getppid),
    SCMP_SYS(sched_yield),
    SCMP_SYS(sched_getaffinity),
    SCMP_SYS(sched_setaffinity),
    SCMP_SYS(getpriority),
    SCMP_SYS(eventfd2),
    SCMP_SYS(pipe2),
    SCMP_SYS(membarrier),
    // Signals, to itself only (below).
    SCMP_SYS(rt_sigaction),
    SCMP_SYS(rt_sigprocmask),
    SCMP_SYS(rt_sigreturn),
    SCMP_SYS(sigaltstack),
    SCMP_SYS(restart_syscall),
    // The time, randomness, and what the libraries ask of the machine.
    SCMP_SYS(clock_gettime),
    SCMP_SYS(clock_getres),
    SCMP_SYS(clock_nanosleep),
    SCMP_SYS(nanosleep),
    SCMP_SYS(gettimeofday),
    SCMP_SYS(getrandom),
    SCMP_SYS(sysinfo),
    SCMP_SYS(uname),
    SCMP_SYS(getuid),
    SCMP_SYS(geteuid),
    SCMP_SYS(getgid),
    SCMP_SYS(getegid),
    SCMP_SYS(getrusage),
    SCMP_SYS(times),
};

bool allow(scmp_filter_ctx filter, int call, std::initializer_list<scmp_arg_cmp> arguments = {})
{
    return seccomp_rule_add_array(filter, SCMP_ACT_ALLOW, call, unsigned(arguments.size()),
                                  arguments.begin()) == 0;
}

// fcntl's commands on what a descriptor is, never one that names another
// process to signal (F_SETOWN, F_SETSIG, O_ASYNC, leases, notifications):
// a signal so sent reaches any process of the user.
bool allowFcntl(scmp_filter_ctx filter)
{
    for (const int command :
         {F_GETFD, F_SETFD, F_GETFL, F_DUPFD, F_DUPFD_CLOEXEC, F_GETLK, F_SETLK, F_SETLKW,
          F_OFD_GETLK, F_OFD_SETLK, F_OFD_SETLKW, F_ADD_SEALS, F_GET_SEALS, F_GETPIPE_SZ})
        if (!allow(filter, SCMP_SYS(fcntl), {SCMP_A1(SCMP_CMP_EQ, scmp_datum_t(command))}))
            return false;
    return allow(filter, SCMP_SYS(fcntl),
                 {SCMP_A1(SCMP_CMP_EQ, F_SETFL), SCMP_A2(SCMP_CMP_MASKED_EQ, O_ASYNC, 0)});
}

// Maps of files and private memory, which a limit on data counts, but
// never memory shared among processes (memfd_create is refused too), nor a
// map that grows down as a stack does, which no such limit counts.
bool allowMmap(scmp_filter_ctx filter)
{
    constexpr scmp_datum_t kinds = MAP_SHARED | MAP_ANONYMOUS | MAP_GROWSDOWN;
    for (const scmp_datum_t kind :
         {scmp_datum_t(0), scmp_datum_t(MAP_SHARED), scmp_datum_t(MAP_ANONYMOUS)})
        if (!allow(filter, SCMP_SYS(mmap), {SCMP_A3(SCMP_CMP_MASKED_EQ, kinds, kind)}))
            return false;
    return true;
}

// Calls allowed only in some forms.
bool allowNarrowly(scmp_filter_ctx filter)
{
    const auto self = scmp_datum_t(::getpid());
    return
        // Threads, never a new process: glibc starts threads with clone3
        // first, whose flags a filter cannot read, and clone when told
        // there is none.
        seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0) == 0 &&
        allow(filter, SCMP_SYS(clone), {SCMP_A0(SCMP_CMP_MASKED_EQ, CLONE_THREAD, CLONE_THREAD)}) &&
        // Signals to its own threads (abort, raise), to no one else.
        allow(filter, SCMP_SYS(tgkill), {SCMP_A0(SCMP_CMP_EQ, self)}) &&
        // The status of what it holds (fstat), never of a path.
        allow(filter, SCMP_SYS(newfstatat),
              {SCMP_A3(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)}) &&
        allow(filter, SCMP_SYS(statx),
              {SCMP_A2(SCMP_CMP_MASKED_EQ, AT_EMPTY_PATH, AT_EMPTY_PATH)}) &&
        // Its limits read, never changed.
        allow(filter, SCMP_SYS(prlimit64), {SCMP_A0(SCMP_CMP_EQ, 0), SCMP_A2(SCMP_CMP_EQ, 0)}) &&
        // Threads named; whether a descriptor is a terminal; bytes waiting.
        allow(filter, SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, PR_SET_NAME)}) &&
        allow(filter, SCMP_SYS(prctl), {SCMP_A0(SCMP_CMP_EQ, PR_GET_NAME)}) &&
        allow(filter, SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_EQ, TCGETS)}) &&
        allow(filter, SCMP_SYS(ioctl), {SCMP_A1(SCMP_CMP_EQ, FIONREAD)});
}

} // namespace

bool filterable() { return ::prctl(PR_GET_SECCOMP, 0, 0, 0, 0) >= 0; }

bool restrict()
{
    const Filter filter(seccomp_init(SCMP_ACT_ERRNO(EPERM)), seccomp_release);
    if (!filter)
        return false;
    for (const int call : allowed)
        if (!allow(filter.get(), call))
            return false;
    return allowNarrowly(filter.get()) && allowFcntl(filter.get()) && allowMmap(filter.get()) &&
           seccomp_load(filter.get()) == 0;
}

} // namespace sandbox::syscalls
