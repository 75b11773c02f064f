// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "outcome.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

// What a job is to the processes that run it.
namespace workers {

// A job's files, as the program opened them (-1: the job opens its own).
// `sameNumber`: descriptors of the program's that the job's process has
// under the same numbers: standard input when the job reads it, standard
// output or a descriptor named /dev/fd/N when the job writes there.
struct JobDescriptors {
    int input = -1;
    int output = -1;
    int sameNumber[2] = {-1, -1};
};

// Said by a job whenever it starts or stops going at the pace of the
// program at a pipe's other end (reading a pipe, writing one), which no
// time limit judges, rather than at its own.
using Pace = std::function<void(bool atTheirs)>;

// Said by a job, in its own process, as a film's pictures are written: how
// many are, for the progress line. Nothing outside a job's process.
void tellProgress(std::uint64_t pictures);

// A job, run in a process of its own: `index` is its number in the batch.
using Job = std::function<Outcome(std::size_t index, JobDescriptors given, const Pace& pace)>;

// What one job may take. Memory: data (heap and private mappings) beyond
// what its process holds when it starts (0: no limit), with room for the
// stacks of the `threads` that libvips starts; and, where the program may
// make memory groups, every byte its process makes the kernel hold.
// Time: from when the job is sent until its answer (0: no limit). Once it
// answered, its process has `answerGrace` to end.
struct Limits {
    std::uint64_t memoryBudget = 0;
    int threads = 1;
    std::chrono::milliseconds time{0};
    std::chrono::milliseconds answerGrace{5000};
};

// What the program knows of a job before it runs: whether it goes through
// a pipe, and whether the output is written in place. A job is
// timed until its input and output are open (a FIFO waits for its other
// end); then one through a pipe goes at the pace of the program at the
// pipe's other end, which no time limit judges.
struct JobPlace {
    bool throughPipe = false;
    bool writtenInPlace = false; // a stream, which a failed job may leave cut short
    bool outputMade = false;     // a new file the program made, which cannot exist already
};

} // namespace workers
