#pragma once

#include "error.h"

#include <cstddef>
#include <functional>

// Runs work(0) .. work(count - 1) on a fixed pool of `workers` threads (the
// calling thread among them), each index once, and calls `finished`, one
// call at a time, as each index completes. Whatever a call throws becomes
// that index's error, so no exception leaves a thread.
//
// libvips keeps one error text for the whole process, so its words for a
// failure are only sure to be that file's when nothing else ran meanwhile.
// `work` is told whether it runs alone; a failure in libvips's words that
// did not run alone is run again, alone, and that run's outcome counts.
using PoolWork = std::function<Error(std::size_t index, bool alone)>;
void runPool(std::size_t count, int workers, const PoolWork& work,
             const std::function<void(std::size_t, const Error&)>& finished);
