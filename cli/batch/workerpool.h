#pragma once

#include "error.h"

#include <cstddef>
#include <functional>

// Runs work(0, slot) .. work(count - 1, slot) on a fixed pool of `workers`
// threads (the calling thread among them), each index once, and calls
// `finished`, one call at a time, as each index completes. `slot`, from 0
// to workers - 1, tells which thread runs it. Whatever a call throws becomes
// that index's error, so no exception leaves a thread. Once `stop` says so,
// no further index starts.
using PoolWork = std::function<Error(std::size_t index, int slot)>;
void runPool(std::size_t count, int workers, const PoolWork& work,
             const std::function<void(std::size_t, const Error&)>& finished,
             const std::function<bool()>& stop = {});
