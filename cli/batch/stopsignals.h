#pragma once

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a scheduler's cancel, a closed
// terminal) stop the program without leaving a temporary behind: the jobs
// running are killed with their children's temporaries removed, and the
// program ends with status 128 + the signal.
namespace batch::stopsignals {

// Handles the three signals from now on. Called early in main().
void install();

// Brackets the rendering: while it runs, a signal kills the running jobs
// and lets the batch end; outside it, the program ends at once (nothing is
// written outside it).
void renderingStarts();
void renderingEnds();

// The signal that stopped the batch, or 0.
int received();

} // namespace batch::stopsignals
