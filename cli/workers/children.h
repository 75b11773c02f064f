// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/types.h>

// The program's live worker processes (the template and the jobs'), kept
// where a signal handler can kill them: lock-free.
namespace workers::children {

void note(pid_t child);
// Forgotten before it is reaped, so that a signal cannot kill another
// process that takes its number.
void forget(pid_t child);

// Kills every worker process (on a signal that stops the program): the jobs
// under way then end. Once called, every process noted later is killed at
// once. Safe to call from a signal handler.
void killAll();

} // namespace workers::children
