#include "batch/stopsignals.h"

#include "batch/childprocess.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <pthread.h>
#include <thread>

namespace stopsignals {

namespace {

std::mutex stateMutex;
bool rendering = false;
std::atomic<int> stopSignal{0};

sigset_t stopSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

void waitForSignal()
{
    const sigset_t set = stopSet();
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    const std::lock_guard lock(stateMutex);
    stopSignal = signal;
    if (!rendering)
        std::_Exit(128 + signal);
    childprocess::killAll();
}

} // namespace

void install()
{
    const sigset_t set = stopSet();
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(waitForSignal).detach();
}

void renderingStarts()
{
    const std::lock_guard lock(stateMutex);
    rendering = true;
}

void renderingEnds()
{
    const std::lock_guard lock(stateMutex);
    rendering = false;
    if (stopSignal != 0)
        std::_Exit(128 + stopSignal);
}

int received() { return stopSignal; }

} // namespace stopsignals
