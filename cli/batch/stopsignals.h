#pragma once

// SIGINT, SIGTERM and SIGHUP (Ctrl-C, a scheduler's cancel, a closed
// terminal) stop the program without leaving a temporary behind: the jobs
// running are killed with their children's temporaries removed, and the
// program ends with status 128 + the signal.
namespace stopsignals {

// Blocks the three signals in this thread, and so in every thread started
// after, and starts the thread that waits for them. Called early in main(),
// before any other thread starts.
void install();

// Brackets the rendering: while it runs, a signal kills the running jobs
// and lets the batch end; outside it, the program ends at once (nothing is
// written outside it).
void renderingStarts();
void renderingEnds();

// The signal that stopped the batch, or 0.
int received();

} // namespace stopsignals
