// SPDX-License-Identifier: GPL-3.0-or-later
#include "sandbox/sandbox.h"

#include "sandbox/landlock.h"
#include "sandbox/syscalls.h"

#include <linux/capability.h>
#include <optional>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sandbox {

namespace {

bool in = false;
// Why entering failed, for every later job of the process: a worker half
// in its sandbox runs none.
std::optional<Error> failed;

// Every capability, for good: a worker started as root keeps none.
bool dropCapabilities()
{
    for (int capability = 0; capability <= CAP_LAST_CAP; ++capability)
        (void)::prctl(PR_CAPBSET_DROP, capability, 0, 0, 0); // needs CAP_SETPCAP, if any is held
    (void)::prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_CLEAR_ALL, 0, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct none[2] = {};
    return ::syscall(SYS_capset, &header, none) == 0;
}

} // namespace

std::string missing()
{
    const bool landlock = landlock::version() > 0;
    const bool seccomp = syscalls::filterable();
    if (landlock && seccomp)
        return {};
    if (!landlock && !seccomp)
        return "this kernel has neither seccomp nor Landlock: workers run with no new privileges "
               "and no capabilities only";
    return landlock ? "this kernel has no seccomp: workers run without a filter of system calls"
                    : "this kernel has no Landlock: workers run without its limits on the file "
                      "system, under the seccomp filter alone";
}

namespace {

Error giveUp()
{
    const bool capabilities = dropCapabilities();
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return Error("cannot give up new privileges");
    (void)landlock::restrictAll(); // where the kernel has it
    if (syscalls::filterable() && !syscalls::restrict())
        return Error("cannot load the filter of system calls");
    if (!capabilities)
        return Error("cannot give up its capabilities");
    return {};
}

} // namespace

Error enter()
{
    if (failed)
        return *failed;
    if (in)
        return {};
    if (Error error = giveUp()) {
        failed = error;
        return error;
    }
    in = true;
    return {};
}

} // namespace sandbox
