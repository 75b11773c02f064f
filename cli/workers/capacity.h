// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// How many jobs' processes the program can keep: each takes descriptors of
// the program's while it runs.
namespace workers {

// Raises the soft limit on open descriptors to the hard one. Called once,
// at start.
void raiseDescriptorLimit();

// How many of `wanted` processes the limit on open descriptors leaves room
// for (at least one).
int processesWithinDescriptorLimit(int wanted);

} // namespace workers
