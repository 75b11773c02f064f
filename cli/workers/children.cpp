// SPDX-License-Identifier: GPL-3.0-or-later
#include "workers/children.h"

#include <array>
#include <atomic>
#include <csignal>

namespace workers::children {

namespace {

std::array<std::atomic<pid_t>, 1024> live{};
std::atomic<bool> killing{false};

void replace(pid_t was, pid_t now)
{
    for (std::atomic<pid_t>& slot : live) {
        pid_t expected = was;
        if (slot.compare_exchange_strong(expected, now))
            return;
    }
}

} // namespace

void note(pid_t child)
{
    replace(0, child);
    if (killing)
        ::kill(child, SIGKILL);
}

void forget(pid_t child) { replace(child, 0); }

void killAll()
{
    killing = true;
    for (const std::atomic<pid_t>& child : live)
        if (const pid_t pid = child; pid > 0)
            ::kill(pid, SIGKILL);
}

} // namespace workers::children
