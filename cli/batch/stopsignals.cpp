// SPDX-License-Identifier: GPL-3.0-or-later
#include "batch/stopsignals.h"

#include "workers/pool.h"

#include <atomic>
#include <csignal>
#include <unistd.h>

namespace batch::stopsignals {

namespace {

std::atomic<bool> rendering{false};
std::atomic<bool> openLine{false};
std::atomic<int> stopSignal{0};

// Runs on the signal: only what is safe there (atomics, kill, write, _exit).
void onSignal(int signal)
{
    stopSignal = signal;
    if (!rendering) {
        if (openLine)
            (void)!::write(STDERR_FILENO, "\r\033[K", 4);
        ::_exit(128 + signal);
    }
    workers::killAll();
}

} // namespace

void install()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

void renderingStarts() { rendering = true; }

void renderingEnds() { rendering = false; }

int received() { return stopSignal; }

void lineOpen(bool open) { openLine = open; }

} // namespace batch::stopsignals
