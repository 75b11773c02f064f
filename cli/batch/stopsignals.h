// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a scheduler's cancel, a closed
// terminal) stop the program without leaving a temporary behind: while it
// renders, the jobs running are killed, and the run ends with its summary
// and status 128 + the signal; before, it ends at once with that status
// (nothing was written), its progress line ended.
namespace batch::stopsignals {

// Handles the three signals from now on. Called early in main().
void install();

// Brackets the rendering, during which a signal lets the batch end.
void renderingStarts();
void renderingEnds();

// The signal that stopped the batch, or 0.
int received();

// Whether a progress line is on the terminal, unended.
void lineOpen(bool open);

} // namespace batch::stopsignals
